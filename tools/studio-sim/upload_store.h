#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace studiosim {

struct KnobValues;
class Sha256;

// What a publish needs to know about a finished upload.
struct UploadRecord {
    std::string id;
    std::string user;
    std::string fileName;
    long long size = 0;
    std::string sha256;
    long long beganMs = 0; // wall clock, ms since the epoch, when the upload began
};

struct ChunkOutcome {
    int httpStatus = 200;
    long long received = 0;
    std::string state; // "uploading", "stalled", "done", "failed"
    std::chrono::steady_clock::time_point answerAt; // throttling: do not answer earlier
};

// Videos and cover pictures as they arrive. Files are named by their random
// id, never by anything the client sent, so nothing lands outside the data folder.
class UploadStore final {
public:
    UploadStore(std::filesystem::path uploadDir, std::filesystem::path coverDir);
    ~UploadStore();

    static constexpr long long kMaxVideoBytes = 8LL << 30;
    static constexpr long long kMaxCoverBytes = 20LL << 20;

    // Returns the new upload's id, or empty with a reason.
    std::string begin(const std::string &user, const std::string &fileName, long long size,
                      std::string &error);
    long long chunkSizeFor(long long size, const KnobValues &knobs) const;
    ChunkOutcome appendChunk(const std::string &user, const std::string &id, long long offset,
                             const std::string &data, const KnobValues &knobs);

    // The record of a finished, accepted upload of this user; each publish
    // asks again, so one upload may be published more than once.
    bool finished(const std::string &user, const std::string &id, UploadRecord &out, std::string &error);

    // Returns the cover's id, or empty with a reason. kind is "platform" or "uploaded".
    std::string addCover(const std::string &user, const std::string &kind, const std::string &bytes,
                         std::string &error);
    std::optional<std::string> coverKind(const std::string &user, const std::string &id) const;

    static bool isMp4Header(const std::string &first8);
    static const char *imageExtension(const std::string &bytes);

private:
    struct Upload;
    struct Cover {
        std::string user;
        std::string kind;
    };

    std::shared_ptr<Upload> findUpload(const std::string &id) const;
    void finish(Upload &u, const KnobValues &knobs);

    std::filesystem::path m_uploadDir;
    std::filesystem::path m_coverDir;
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Upload>> m_uploads;
    std::map<std::string, Cover> m_covers;
};

} // namespace studiosim
