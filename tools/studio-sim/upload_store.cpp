#include "upload_store.h"

#include "knobs.h"
#include "sim_util.h"

#include <algorithm>

namespace studiosim {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct UploadStore::Upload {
    std::mutex mutex;
    UploadRecord record;
    long long received = 0;
    std::string state = "uploading";
    std::string head; // first bytes, for the container check
    std::FILE *file = nullptr;
    std::unique_ptr<Sha256> hash = std::make_unique<Sha256>();
    Clock::time_point readyAt = Clock::now();
    fs::path partPath;
};

UploadStore::UploadStore(fs::path uploadDir, fs::path coverDir)
    : m_uploadDir(std::move(uploadDir)), m_coverDir(std::move(coverDir))
{
}

UploadStore::~UploadStore()
{
    for (auto &[id, u] : m_uploads) {
        if (u->file)
            std::fclose(u->file);
    }
}

bool UploadStore::isMp4Header(const std::string &first8)
{
    return first8.size() >= 8 && first8.compare(4, 4, "ftyp") == 0;
}

const char *UploadStore::imageExtension(const std::string &b)
{
    if (b.size() >= 3 && b.compare(0, 3, "\xFF\xD8\xFF") == 0)
        return "jpg";
    if (b.size() >= 8 && b.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0)
        return "png";
    if (b.size() >= 6 && (b.compare(0, 6, "GIF87a") == 0 || b.compare(0, 6, "GIF89a") == 0))
        return "gif";
    if (b.size() >= 12 && b.compare(0, 4, "RIFF") == 0 && b.compare(8, 4, "WEBP") == 0)
        return "webp";
    return nullptr;
}

std::string UploadStore::begin(const std::string &user, const std::string &fileName, long long size,
                               std::string &error)
{
    if (size <= 0 || size > kMaxVideoBytes) {
        error = "bad size";
        return {};
    }
    auto u = std::make_shared<Upload>();
    u->record.id = randomHex(12);
    u->record.user = user;
    u->record.fileName = isValidUtf8(fileName) ? fileName.substr(0, 1024) : asciiSafe(fileName);
    u->record.size = size;
    u->record.beganMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    u->partPath = m_uploadDir / (u->record.id + ".part");
    u->file = std::fopen(u->partPath.c_str(), "wb");
    if (!u->file) {
        error = "cannot store the upload";
        return {};
    }
    std::lock_guard lock(m_mutex);
    m_uploads[u->record.id] = u;
    return u->record.id;
}

long long UploadStore::chunkSizeFor(long long size, const KnobValues &knobs) const
{
    // About fifty steps of progress, and at a set speed no more than a quarter
    // second of data per request, so the percentage moves smoothly either way.
    long long chunk = std::clamp(size / 50, 4LL << 10, 1LL << 20);
    if (knobs.uploadKbps > 0)
        chunk = std::min(chunk, std::max(4LL << 10, knobs.uploadKbps * 1024 / 4));
    return chunk;
}

std::shared_ptr<UploadStore::Upload> UploadStore::findUpload(const std::string &id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_uploads.find(id);
    return it == m_uploads.end() ? nullptr : it->second;
}

void UploadStore::finish(Upload &u, const KnobValues &knobs)
{
    const bool written = std::fclose(u.file) == 0;
    u.file = nullptr;
    u.record.sha256 = u.hash->finishHex();
    const bool accepted = written && isMp4Header(u.head) && !knobs.failUpload;
    u.state = accepted ? "done" : "failed";
    std::error_code ec;
    fs::rename(u.partPath, m_uploadDir / (u.record.id + (accepted ? ".mp4" : ".rejected")), ec);
}

ChunkOutcome UploadStore::appendChunk(const std::string &user, const std::string &id, long long offset,
                                      const std::string &data, const KnobValues &knobs)
{
    ChunkOutcome out;
    out.answerAt = Clock::now();
    const auto u = findUpload(id);
    if (!u || u->record.user != user) {
        out.httpStatus = 404;
        out.state = "failed";
        return out;
    }
    std::lock_guard lock(u->mutex);
    out.received = u->received;
    out.state = u->state;
    if (u->state != "uploading")
        return out;
    if (offset != u->received) {
        out.httpStatus = 409;
        return out;
    }
    const long long size = u->record.size;
    // Rounded up, so the page's whole-number percentage shows the stall point itself.
    const bool stalls = knobs.stallAt >= 0
        && (knobs.stallName.empty() || u->record.fileName.find(knobs.stallName) != std::string::npos);
    const long long allowed = stalls ? (size * knobs.stallAt + 99) / 100 : size;
    // Stalling at 100 takes every byte but never finishes the upload.
    const bool holdAtEnd = stalls && knobs.stallAt == 100;
    const long long room = std::max(0LL, std::min(allowed, size) - u->received);
    const long long take = std::min<long long>(room, static_cast<long long>(data.size()));
    if (take > 0) {
        if (std::fwrite(data.data(), 1, static_cast<size_t>(take), u->file) != static_cast<size_t>(take)) {
            std::fclose(u->file);
            u->file = nullptr;
            u->state = out.state = "failed";
            return out;
        }
        std::fflush(u->file); // what has arrived is on disk, for anyone watching the folder
        u->hash->update(data.data(), static_cast<size_t>(take));
        if (u->head.size() < 8)
            u->head.append(data, 0, std::min<size_t>(8 - u->head.size(), static_cast<size_t>(take)));
        u->received += take;
        if (knobs.uploadKbps > 0) {
            const auto cost = std::chrono::microseconds(take * 1000000 / (knobs.uploadKbps * 1024));
            u->readyAt = std::max(u->readyAt, Clock::now()) + cost;
            out.answerAt = u->readyAt;
        }
    }
    if (u->received == size && !holdAtEnd)
        finish(*u, knobs);
    out.received = u->received;
    out.state = u->state;
    if (out.state == "uploading" && u->received >= allowed)
        out.state = "stalled";
    return out;
}

bool UploadStore::finished(const std::string &user, const std::string &id, UploadRecord &out,
                          std::string &error)
{
    const auto u = findUpload(id);
    if (!u || u->record.user != user) {
        error = "没有找到上传的视频";
        return false;
    }
    std::lock_guard lock(u->mutex);
    if (u->state != "done") {
        error = "视频尚未上传完成";
        return false;
    }
    // As on the platform, every confirmed submit publishes: pressing twice
    // publishes the same upload twice.
    out = u->record;
    return true;
}

std::string UploadStore::addCover(const std::string &user, const std::string &kind,
                                  const std::string &bytes, std::string &error)
{
    const std::string id = randomHex(12);
    if (kind == "uploaded") {
        const char *ext = imageExtension(bytes);
        if (!ext || bytes.size() > static_cast<size_t>(kMaxCoverBytes)) {
            error = "图片格式不支持";
            return {};
        }
        const fs::path path = m_coverDir / (id + "." + ext);
        std::FILE *f = std::fopen(path.c_str(), "wb");
        const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (f && std::fclose(f) != 0)
            error = "cannot store the cover";
        if (!ok || !error.empty()) {
            error = "cannot store the cover";
            return {};
        }
    } else if (kind != "platform") {
        error = "unknown cover kind";
        return {};
    }
    std::lock_guard lock(m_mutex);
    m_covers[id] = Cover {user, kind};
    return id;
}

std::optional<std::string> UploadStore::coverKind(const std::string &user, const std::string &id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_covers.find(id);
    if (it == m_covers.end() || it->second.user != user)
        return std::nullopt;
    return it->second.kind;
}

} // namespace studiosim
