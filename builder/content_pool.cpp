#include "builder/content_pool.h"


#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <tuple>

#include "archive/check_value.h"
#include "builder/deflate_encoder.h"
#include "builder/ordered_workers.h"
#include "builder/progress.h"
#include "builder/whole_file.h"

namespace {

const size_t CopyBlockSize = 1 << 20;
const uint64_t MaxSourceSize = 0xFFFFFFFFu;

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + strerror(errno));
}

struct PackJob {
    const SourceFiles* files = nullptr;
    std::string path;
    std::vector<uint8_t> stream;
    uint32_t size = 0;
    uint32_t checkValue = 0;
    std::string error;
};

void PackOne(PackJob& job, int level) {
    try {
        std::vector<uint8_t> data = job.files->Read(job.path);
        if (data.size() > MaxSourceSize) throw std::runtime_error(job.path + " is 4 GB or larger");
        job.size = static_cast<uint32_t>(data.size());
        job.checkValue = RotateAddCheck(data.data(), job.size, 0);
        job.stream = level == RawContents ? std::move(data) : EncodeStream(data.data(), data.size(), level);
    } catch (const std::exception& e) {
        job.error = e.what();
    }
}

}  // namespace

ContentPool::ContentPool(const std::string& folder) : pool(folder) {}

ContentPool::~ContentPool() = default;

void ContentPool::Pack(const SourceFiles& files, const std::vector<std::string>& sources, int level, unsigned threads,
                       Progress* progress) {
    std::vector<PackJob> jobs(sources.size());
    for (size_t i = 0; i < sources.size(); i++) {
        jobs[i].files = &files;
        jobs[i].path = sources[i];
    }
    // Equal contents have equal sizes, check values and streams: the stream
    // is a function of the contents, and decodes back to them, so equal
    // streams mean equal contents.
    std::multimap<std::tuple<uint32_t, uint32_t, uint32_t>, uint32_t> byKey;
    OrderedWorkers workers(jobs.size(), threads, [&](size_t i) { PackOne(jobs[i], level); });
    for (size_t i = 0; i < jobs.size(); i++) {
        workers.Wait(i);
        PackJob& job = jobs[i];
        if (!job.error.empty()) throw std::runtime_error(job.error);
        if (job.stream.size() > MaxSourceSize) throw std::runtime_error(job.path + " packs to 4 GB or more");
        auto key = std::make_tuple(job.size, job.checkValue, static_cast<uint32_t>(job.stream.size()));
        uint32_t content = UINT32_MAX;
        for (auto [it, last] = byKey.equal_range(key); it != last && content == UINT32_MAX; ++it)
            if (StoredEquals(contents[it->second], job.stream)) content = it->second;
        if (content == UINT32_MAX) {
            content = AddStream(job.stream, job.size, job.checkValue);
            byKey.emplace(key, content);
        }
        sourceContent.push_back(content);
        bytesRead += job.size;
        if (progress != nullptr) progress->Advance(job.size);
        std::vector<uint8_t>().swap(job.stream);
        workers.Release(i);
    }
}

uint32_t ContentPool::AddStream(const std::vector<uint8_t>& stream, uint32_t size, uint32_t checkValue) {
    if (!pool.WriteAt(end, stream.data(), stream.size())) throw SystemError("cannot write the temporary pack file");
    contents.push_back({end, static_cast<uint32_t>(stream.size()), size, checkValue});
    end += stream.size();
    return static_cast<uint32_t>(contents.size() - 1);
}

void ContentPool::ReadAt(uint64_t offset, uint8_t* buffer, size_t count) const {
    if (!pool.ReadAt(offset, buffer, count)) throw SystemError("cannot read the temporary pack file");
}

bool ContentPool::StoredEquals(const PackedContent& content, const std::vector<uint8_t>& stream) const {
    std::vector<uint8_t> block(CopyBlockSize);
    for (uint64_t done = 0; done < content.storedSize;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(CopyBlockSize, content.storedSize - done));
        ReadAt(content.poolOffset + done, block.data(), n);
        if (std::memcmp(block.data(), stream.data() + done, n) != 0) return false;
        done += n;
    }
    return true;
}

void ContentPool::CopyTo(FILE* out, uint32_t content, uint64_t from, uint64_t count) const {
    std::vector<uint8_t> block(CopyBlockSize);
    uint64_t offset = contents[content].poolOffset + from;
    for (uint64_t done = 0; done < count;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(CopyBlockSize, count - done));
        ReadAt(offset + done, block.data(), n);
        if (fwrite(block.data(), 1, n, out) != n) throw SystemError("cannot write the setup");
        done += n;
    }
}
