#pragma once

#include <map>
#include <mutex>
#include <string>

namespace studiosim {

// Behaviour switches, set on the command line and flipped at run time through
// the control endpoint. Readers take a snapshot so one request sees one state.
struct KnobValues {
    long long uploadKbps = 0;       // 0 = as fast as the connection goes
    long long stallAt = -1;         // percentage at which uploads stop; -1 = never
    std::string stallName;          // when set, only uploads whose file name contains it stall
    bool failUpload = false;
    long long slowDialogs = 0;      // ms; 0 = the studio's usual delays
    bool logoutAll = false;
    bool failCover = false;
    bool failPublish = false;
    // A real studio's page: covered, late and restless (all off by default).
    long long guideBubble = 0;      // ms a guide bubble covers the publish button once the upload is done
    long long coverToast = 0;       // ms a toast covers the cover box once the upload is done
    bool lateForm = false;          // the form is rendered only after the upload started
    bool pushLanding = false;       // the landing address is reached by history.pushState, no page load
    bool hiddenInputs = false;      // the file inputs are display:none
    long long loginExpiresAfter = 0; // a user's login ends after this many publishes (0 = never)
    long long lateLanding = 0;      // ms: the submit dialog closes on confirm and the landing comes this much later
    long long listDelay = 300;      // ms before the content pages render their list (a script of the page)
    long long pageDelay = 0;        // ms the upload and content pages take to answer (a busy studio)
    bool redesign = false;          // the upload page comes in the studio's redesign (other names, same flow)

    std::string updateDown;         // servers ("1,2,3") that answer 503
    std::string updateProbeBad;     // servers whose test.txt reads "ok " instead of "ok"
    std::string updateVersion = "3.0";
    std::string updateNotes = "修复已知问题，提升上传稳定性";
    std::string updateFileName = "tolvar_new.exe";
    long long updateFileSize = 1048576;
    std::string studioDescription;       // path of a JSON file the update servers offer as the studio page description
    std::string studioDescriptionSha256; // when set, the hash advertised for it instead of the real one
    bool failIndex = false;
    bool brokenIndex = false;
    bool failDownload = false;
    bool failAnnouncement = false;
    bool failAd = false;
    bool failQuote = false;
    std::string quoteText = "路虽远，行则将至；事虽难，做则必成。";
    bool failNotify = false;
};

class Knobs final {
public:
    // Sets one knob by its command-line name (without the leading dashes).
    // Returns false with a reason for an unknown name or a bad value.
    bool set(const std::string &name, const std::string &value, std::string &error);
    static bool isFlag(const std::string &name);
    static bool isKnown(const std::string &name);

    KnobValues snapshot() const;
    void assign(const KnobValues &values);
    std::string toJson() const;
    static std::string usage();

private:
    mutable std::mutex m_mutex;
    KnobValues m_values;
};

// True when `list` (comma separated) names `server`.
bool listHas(const std::string &list, int server);

} // namespace studiosim
