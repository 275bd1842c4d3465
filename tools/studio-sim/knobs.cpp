#include "knobs.h"

#include "sim_util.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <sstream>
#include <variant>

namespace studiosim {

namespace {

using Member = std::variant<bool KnobValues::*, long long KnobValues::*, std::string KnobValues::*>;

struct KnobSpec {
    const char *name;
    Member member;
    long long minimum;
    long long maximum;
    const char *help;
};

const KnobSpec kSpecs[] = {
    {"upload-kbps", &KnobValues::uploadKbps, 0, 10000000, "upload speed in KiB/s (0 = unlimited)"},
    {"stall-at", &KnobValues::stallAt, -1, 100, "uploads stop for good at this percentage (-1 = never)"},
    {"stall-name", &KnobValues::stallName, 0, 0, "only uploads whose file name contains this text stall (empty = all)"},
    {"fail-upload", &KnobValues::failUpload, 0, 0, "every finished upload is rejected (上传失败)"},
    {"slow-dialogs", &KnobValues::slowDialogs, 0, 600000, "ms that dialog buttons stay disabled and the cover upload takes"},
    {"logout-all", &KnobValues::logoutAll, 0, 0, "every session counts as logged out"},
    {"fail-cover", &KnobValues::failCover, 0, 0, "cover uploads are refused"},
    {"fail-publish", &KnobValues::failPublish, 0, 0, "publish and draft requests are refused"},
    {"guide-bubble", &KnobValues::guideBubble, 0, 600000, "ms a guide bubble covers the publish button once an upload is done"},
    {"cover-toast", &KnobValues::coverToast, 0, 600000, "ms a toast covers the cover box once an upload is done"},
    {"late-form", &KnobValues::lateForm, 0, 0, "the form is rendered only after the upload started"},
    {"push-landing", &KnobValues::pushLanding, 0, 0, "the landing address comes by history.pushState (no page load)"},
    {"hidden-inputs", &KnobValues::hiddenInputs, 0, 0, "the file inputs are display:none"},
    {"login-expires-after", &KnobValues::loginExpiresAfter, 0, 1000000, "a user's login ends after this many publishes (0 = never)"},
    {"late-landing", &KnobValues::lateLanding, 0, 600000, "ms: the submit dialog closes on confirm, the landing address comes this much later"},
    {"list-delay", &KnobValues::listDelay, 0, 600000, "ms before the content pages render their list of videos"},
    {"page-delay", &KnobValues::pageDelay, 0, 600000, "ms the upload and content pages take to answer"},
    {"redesign", &KnobValues::redesign, 0, 0, "the upload page is served in the studio's redesign (other names, same flow)"},
    {"update-down", &KnobValues::updateDown, 0, 0, "update servers (1,2,3) that answer 503 on every path"},
    {"update-probe-bad", &KnobValues::updateProbeBad, 0, 0, "update servers whose test.txt reads \"ok \""},
    {"update-version", &KnobValues::updateVersion, 0, 0, "the version offered in index.json"},
    {"update-notes", &KnobValues::updateNotes, 0, 0, "the update notes in index.json"},
    {"update-file-name", &KnobValues::updateFileName, 0, 0, "the file name offered in index.json"},
    {"update-file-size", &KnobValues::updateFileSize, 0, 1LL << 32, "size in bytes of the downloadable file"},
    {"studio-description", &KnobValues::studioDescription, 0, 0, "JSON file offered in index.json as the studio page description (empty = none)"},
    {"studio-description-sha256", &KnobValues::studioDescriptionSha256, 0, 0, "hash advertised for the studio page description instead of its own"},
    {"fail-index", &KnobValues::failIndex, 0, 0, "index.json answers 500"},
    {"broken-index", &KnobValues::brokenIndex, 0, 0, "index.json is not valid JSON"},
    {"fail-download", &KnobValues::failDownload, 0, 0, "the downloadable file answers 500"},
    {"fail-announcement", &KnobValues::failAnnouncement, 0, 0, "gonggao.json answers 500"},
    {"fail-ad", &KnobValues::failAd, 0, 0, "tool/adN.gif answers 500"},
    {"fail-quote", &KnobValues::failQuote, 0, 0, "the quote service answers 500"},
    {"quote-text", &KnobValues::quoteText, 0, 0, "the quote served"},
    {"fail-notify", &KnobValues::failNotify, 0, 0, "/tongzhi answers 500"},
};

const KnobSpec *find(const std::string &name)
{
    for (const auto &spec : kSpecs) {
        if (name == spec.name)
            return &spec;
    }
    return nullptr;
}

} // namespace

bool Knobs::isKnown(const std::string &name)
{
    return find(name) != nullptr;
}

bool Knobs::isFlag(const std::string &name)
{
    const KnobSpec *spec = find(name);
    return spec && std::holds_alternative<bool KnobValues::*>(spec->member);
}

bool Knobs::set(const std::string &name, const std::string &value, std::string &error)
{
    const KnobSpec *spec = find(name);
    if (!spec) {
        error = "unknown knob: " + name;
        return false;
    }
    if (value.size() > 4096) {
        error = "value too long for " + name;
        return false;
    }
    std::lock_guard lock(m_mutex);
    if (const auto *m = std::get_if<bool KnobValues::*>(&spec->member)) {
        bool b = false;
        if (!parseBool(value, b)) {
            error = "not a truth value for " + name + ": " + value;
            return false;
        }
        m_values.*(*m) = b;
    } else if (const auto *m = std::get_if<long long KnobValues::*>(&spec->member)) {
        long long n = 0;
        if (!parseInt(value, n) || n < spec->minimum || n > spec->maximum) {
            error = "bad number for " + name + ": " + value;
            return false;
        }
        m_values.*(*m) = n;
    } else {
        const auto *s = std::get_if<std::string KnobValues::*>(&spec->member);
        if (!isValidUtf8(value)) {
            error = "not UTF-8: " + name;
            return false;
        }
        m_values.*(*s) = value;
    }
    return true;
}

KnobValues Knobs::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_values;
}

void Knobs::assign(const KnobValues &values)
{
    std::lock_guard lock(m_mutex);
    m_values = values;
}

std::string Knobs::toJson() const
{
    const KnobValues v = snapshot();
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    for (const auto &spec : kSpecs) {
        w.Key(spec.name);
        if (const auto *m = std::get_if<bool KnobValues::*>(&spec.member))
            w.Bool(v.*(*m));
        else if (const auto *m = std::get_if<long long KnobValues::*>(&spec.member))
            w.Int64(v.*(*m));
        else
            w.String(v.*(*std::get_if<std::string KnobValues::*>(&spec.member)));
    }
    w.EndObject();
    return buffer.GetString();
}

std::string Knobs::usage()
{
    std::ostringstream out;
    for (const auto &spec : kSpecs) {
        const bool flag = std::holds_alternative<bool KnobValues::*>(spec.member);
        out << "  --" << spec.name << (flag ? "" : " VALUE") << "\n      " << spec.help << "\n";
    }
    return out.str();
}

bool listHas(const std::string &list, int server)
{
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item == std::to_string(server))
            return true;
    }
    return false;
}

} // namespace studiosim
