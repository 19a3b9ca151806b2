// Writes a project's package to its output file: the sources read and
// compressed in pieces on several threads, in bounded memory, into a part file
// that is renamed into place only when complete and removed on any failure.
#include "project.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <zlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quillset {

namespace {

// Files are read and compressed in pieces of this size; each piece after a
// file's first is compressed with the 32 KiB before it as its dictionary, so
// the pieces join into one stream and the bytes do not depend on the threads.
const size_t kPiece = 1 << 20;
const size_t kDictionary = 32 << 10;
const size_t kWriteBuffer = 256 << 10;
const unsigned kMaxThreads = 8;
const uint64_t kDataLimit = 0xFFFFFFFFull;   // 32-bit package offsets and sizes

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// The system's reason, for messages that name a file and what failed.
std::string Because(int error)
{
    return ": " + std::string(std::strerror(error));
}

#ifdef _WIN32
int OpenForReading(const std::string& path)
{
    return _wopen(fs::u8path(path).wstring().c_str(), _O_RDONLY | _O_BINARY);
}

bool IsRegularOpenFile(int fd, uint64_t* size)
{
    struct _stati64 st;
    if (_fstati64(fd, &st) != 0)
        return false;
    *size = static_cast<uint64_t>(st.st_size);
    return (st.st_mode & _S_IFMT) == _S_IFREG;
}

long ReadSome(int fd, uint8_t* to, size_t size)
{
    return _read(fd, to, static_cast<unsigned>(size));
}

long WriteSome(int fd, const uint8_t* from, size_t size)
{
    return _write(fd, from, static_cast<unsigned>(size));
}

bool SeekTo(int fd, uint64_t at)
{
    return _lseeki64(fd, static_cast<int64_t>(at), SEEK_SET) == static_cast<int64_t>(at);
}

bool TruncateAt(int fd, uint64_t length)
{
    return _chsize_s(fd, static_cast<int64_t>(length)) == 0;
}

bool SyncFile(int fd)
{
    return _commit(fd) == 0;
}

void CloseFile(int fd)
{
    _close(fd);
}

int CloseChecked(int fd)
{
    return _close(fd);
}

void RemoveName(const std::string& path)
{
    _wunlink(fs::u8path(path).wstring().c_str());
}
#else
int OpenForReading(const std::string& path)
{
    // Non-blocking, so that a FIFO put in a source's place cannot stall the build.
    int fd;
    do
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool IsRegularOpenFile(int fd, uint64_t* size)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    *size = static_cast<uint64_t>(st.st_size);
    return S_ISREG(st.st_mode);
}

long ReadSome(int fd, uint8_t* to, size_t size)
{
    ssize_t n;
    do
        n = read(fd, to, size);
    while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long WriteSome(int fd, const uint8_t* from, size_t size)
{
    ssize_t n;
    do
        n = write(fd, from, size);
    while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool SeekTo(int fd, uint64_t at)
{
    return lseek(fd, static_cast<off_t>(at), SEEK_SET) == static_cast<off_t>(at);
}

bool TruncateAt(int fd, uint64_t length)
{
    return ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool SyncFile(int fd)
{
    return fsync(fd) == 0 || errno == EINVAL;   // EINVAL: a file that cannot be synced
}

void CloseFile(int fd)
{
    close(fd);
}

int CloseChecked(int fd)
{
    return close(fd) == 0 || errno == EINTR ? 0 : -1;
}

void RemoveName(const std::string& path)
{
    unlink(path.c_str());
}

// SIGINT, SIGTERM and SIGHUP remove the part file of the build under way,
// then take their earlier course.
const int kStopSignals[] = { SIGINT, SIGTERM, SIGHUP };
struct sigaction g_earlier[3];
bool g_handled[3];
char g_partPath[4096];
std::atomic<bool> g_partWatched{ false };

extern "C" void RemovePartAndStop(int signal)
{
    int saved = errno;
    unlink(g_partPath);
    for (int i = 0; i < 3; i++)
        if (kStopSignals[i] == signal)
            sigaction(signal, &g_earlier[i], nullptr);
    raise(signal);
    errno = saved;
}

// True when PART will be removed on a stop signal; one build per process is watched.
bool WatchPart(const std::string& part)
{
    if (part.size() >= sizeof g_partPath || g_partWatched.exchange(true))
        return false;
    std::memcpy(g_partPath, part.c_str(), part.size() + 1);
    struct sigaction action {};
    action.sa_handler = RemovePartAndStop;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; i++) {
        g_handled[i] = false;
        if (sigaction(kStopSignals[i], nullptr, &g_earlier[i]) != 0 || g_earlier[i].sa_handler == SIG_IGN)
            continue;   // an ignored signal stays ignored
        g_handled[i] = sigaction(kStopSignals[i], &action, nullptr) == 0;
    }
    return true;
}

void UnwatchPart()
{
    for (int i = 0; i < 3; i++)
        if (g_handled[i])
            sigaction(kStopSignals[i], &g_earlier[i], nullptr);
    g_partWatched = false;
}
#endif

// The output's part file: created new (never through a file or link already
// there), written through a buffer, and removed unless it was renamed into
// place.
class PartFile {
public:
    PartFile(const std::string& project, const std::string& output) : project_(project), output_(output),
                                                                      part_(output + ".part")
    {
        buffer_.resize(kWriteBuffer);
        RemoveStale();
#ifdef _WIN32
        fd_ = _wopen(fs::u8path(part_).wstring().c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY,
                     _S_IREAD | _S_IWRITE);
#else
        watched_ = WatchPart(part_);
        do
            fd_ = open(part_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        while (fd_ < 0 && errno == EINTR);
#endif
        if (fd_ < 0) {
            int error = errno;
#ifndef _WIN32
            if (watched_)
                UnwatchPart();
#endif
            Fail("cannot create", error);
        }
        created_ = true;
    }
    ~PartFile()
    {
        if (fd_ >= 0)
            CloseFile(fd_);
        if (created_ && !renamed_)
            RemoveName(part_);
#ifndef _WIN32
        if (watched_)
            UnwatchPart();
#endif
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    uint64_t Position() const { return start_ + used_; }
    void Write(const uint8_t* data, size_t size)
    {
        if (used_ + size > buffer_.size())
            Flush();
        if (size >= buffer_.size()) {
            WriteAll(data, size);
            start_ += size;
            return;
        }
        std::memcpy(buffer_.data() + used_, data, size);
        used_ += size;
    }
    void Write(const Bytes& bytes) { Write(bytes.data(), bytes.size()); }
    // Overwrites bytes already written, keeping the position.
    void PutAt(uint64_t at, const Bytes& bytes)
    {
        Flush();
        if (!SeekTo(fd_, at))
            Fail("cannot seek in", errno);
        WriteAll(bytes.data(), bytes.size());
        if (!SeekTo(fd_, start_))
            Fail("cannot seek in", errno);
    }
    void PutU32At(uint64_t at, uint64_t value)
    {
        Bytes bytes;
        ScriptWriter::putU32(bytes, static_cast<uint32_t>(value));
        PutAt(at, bytes);
    }
    // The next bytes are written at AT, over what lies there.
    void MoveTo(uint64_t at)
    {
        Flush();
        if (!SeekTo(fd_, at))
            Fail("cannot seek in", errno);
        start_ = at;
    }
    // Ends the file at the position: bytes left behind by a rewritten entry go.
    void Cut()
    {
        Flush();
        if (!TruncateAt(fd_, start_))
            Fail("cannot write", errno);
    }
    uint32_t Adler32From(uint64_t at, Bytes& scratch)
    {
        Flush();
        if (!SeekTo(fd_, at))
            Fail("cannot seek in", errno);
        uLong sum = adler32(0, nullptr, 0);
        for (uint64_t left = start_ - at; left;) {
            long got = ReadSome(fd_, scratch.data(), std::min<uint64_t>(left, scratch.size()));
            if (got <= 0)
                Fail("cannot read back", got < 0 ? errno : EIO);
            sum = adler32(sum, scratch.data(), static_cast<uInt>(got));
            left -= static_cast<uint64_t>(got);
        }
        if (!SeekTo(fd_, start_))
            Fail("cannot seek in", errno);
        return static_cast<uint32_t>(sum);
    }
    // Syncs and closes the part file and renames it to the output.
    void Commit()
    {
        Flush();
        if (!SyncFile(fd_))
            Fail("cannot write", errno);
        int fd = fd_;
        fd_ = -1;
        if (CloseChecked(fd) != 0)
            Fail("cannot write", errno);
        std::error_code error;
        fs::rename(fs::u8path(part_), fs::u8path(output_), error);
        if (error)
            throw BuildError(project_, 0, "cannot replace " + Quoted(output_) + ": " + error.message());
        renamed_ = true;
    }

private:
    [[noreturn]] void Fail(const char* doing, int error)
    {
        throw BuildError(project_, 0, std::string(doing) + " " + Quoted(part_) + Because(error));
    }
    // A part file left by a build that was killed: only its name is removed,
    // so a link there takes nothing with it.
    void RemoveStale()
    {
        std::error_code error;
        fs::file_status status = fs::symlink_status(fs::u8path(part_), error);
        if (!fs::exists(status))
            return;
        if (!fs::is_regular_file(status) && !fs::is_symlink(status))
            throw BuildError(project_, 0, Quoted(part_) + " is in the way of the output: it is neither a file nor a "
                                                          "link; remove it");
        if (!fs::remove(fs::u8path(part_), error) && error)
            throw BuildError(project_, 0, "cannot remove the stale " + Quoted(part_) + ": " + error.message());
    }
    void Flush()
    {
        WriteAll(buffer_.data(), used_);
        start_ += used_;
        used_ = 0;
    }
    void WriteAll(const uint8_t* data, size_t size)
    {
        while (size) {
            long n = WriteSome(fd_, data, std::min<size_t>(size, 1u << 30));
            if (n < 0)
                Fail("cannot write", errno);
            if (n == 0)
                Fail("cannot write", ENOSPC);
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

    std::string project_, output_, part_;
    int fd_ = -1;
    bool created_ = false, renamed_ = false;
#ifndef _WIN32
    bool watched_ = false;
#endif
    Bytes buffer_;
    uint64_t start_ = 0;   // the file offset of the buffer's first byte
    size_t used_ = 0;
};

// A problem met by a worker, put into words by the writer: workers must not
// allocate for it (the problem may be that memory ran out).
struct Problem {
    const char* doing = nullptr;   // "cannot read", or with error 0 a statement about the file
    int error = 0;
};

// One piece of one file, read in order and compressed by a worker.
struct Piece {
    size_t file = 0;               // index into the files packed
    bool first = false, last = false;
    Bytes input;                   // the dictionary, then the piece's bytes
    size_t dictionary = 0;
    Bytes output;                  // raw deflate data ending in a sync flush
    size_t compressed = 0;
    Problem problem;
    bool done = false;
    size_t Size() const { return input.size() - dictionary; }
};

// The files' pieces in plan order: workers take the next piece when fewer
// than the window's count are read and not yet written, read it (one at a
// time, in order) and compress it; the writer takes them in the same order.
class Pipeline {
public:
    Pipeline(const std::vector<const SourceFile*>& files, unsigned threads)
        : files_(files), pieces_(threads * 2 + 2)
    {
        try {
            for (unsigned t = 0; t < threads; t++)
                pool_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            if (pool_.empty())
                throw;   // no thread at all; fewer than asked still work
        }
    }
    ~Pipeline() { Stop(); }

    // The piece number SEQUENCE, once read and compressed.
    Piece& Take(size_t sequence)
    {
        Piece& piece = pieces_[sequence % pieces_.size()];
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return piece.done; });
        return piece;
    }
    // Frees piece SEQUENCE's place for the piece that comes a window later.
    void Release(size_t sequence)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pieces_[sequence % pieces_.size()].done = false;
            written_ = sequence + 1;
        }
        changed_.notify_all();
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (auto& t : pool_)
            t.join();
        pool_.clear();
        if (fd_ >= 0)
            CloseFile(fd_);
        fd_ = -1;
    }

private:
    void Work()
    {
        z_stream z{};
        bool ready = deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        for (;;) {
            std::unique_lock<std::mutex> reading(readMutex_);
            if (file_ >= files_.size())
                break;
            Piece* piece;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || next_ < written_ + pieces_.size(); });
                if (stop_)
                    break;
                piece = &pieces_[next_++ % pieces_.size()];
            }
            piece->problem = Problem();
            piece->compressed = 0;
            try {
                Read(*piece);
            } catch (const std::bad_alloc&) {
                Stumble(*piece, "cannot read", ENOMEM);
            }
            reading.unlock();
            if (!piece->problem.doing && files_[piece->file]->entry.compress && piece->Size()) {
                if (!ready)
                    piece->problem = { "cannot compress", ENOMEM };
                else
                    try {
                        Compress(z, *piece);
                    } catch (const std::bad_alloc&) {
                        piece->problem = { "cannot compress", ENOMEM };
                    }
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                piece->done = true;
            }
            changed_.notify_all();
        }
        deflateEnd(&z);
    }

    // A file that cannot be read ends the reading: the writer stops at it.
    void Stumble(Piece& piece, const char* doing, int error)
    {
        piece.problem = { doing, error };
        piece.file = file_;
        piece.last = true;
        piece.input.clear();
        piece.dictionary = 0;
        file_ = files_.size();
    }

    // The next piece of the files, in order; called with readMutex_ held.
    void Read(Piece& piece)
    {
        piece.first = fd_ < 0;
        if (piece.first) {
            fd_ = OpenForReading(files_[file_]->path);
            if (fd_ < 0)
                return Stumble(piece, "cannot read", errno);
            if (!IsRegularOpenFile(fd_, &size_))
                return Stumble(piece, "is no longer a regular file", 0);
            if (size_ > kDataLimit)
                return Stumble(piece, "is 4 GiB or more; a package entry cannot hold it", 0);
            offset_ = 0;
            tail_.clear();
        }
        piece.file = file_;
        const bool compress = files_[file_]->entry.compress;
        piece.dictionary = compress ? tail_.size() : 0;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, size_ - offset_));
        piece.input.resize(piece.dictionary + want);
        std::copy(tail_.begin(), tail_.begin() + piece.dictionary, piece.input.begin());
        size_t got = 0;
        while (got < want) {
            long n = ReadSome(fd_, piece.input.data() + piece.dictionary + got, want - got);
            if (n < 0)
                return Stumble(piece, "cannot read", errno);
            if (n == 0)
                break;   // the file has shrunk since the plan: what is there is packed
            got += static_cast<size_t>(n);
        }
        piece.input.resize(piece.dictionary + got);
        offset_ += got;
        piece.last = got < want || offset_ >= size_;
        if (piece.last) {
            CloseFile(fd_);
            fd_ = -1;
            file_++;
        } else if (compress) {
            size_t keep = std::min(kDictionary, piece.input.size());
            tail_.assign(piece.input.end() - keep, piece.input.end());
        }
    }

    static void Compress(z_stream& z, Piece& piece)
    {
        deflateReset(&z);
        if (piece.dictionary)
            deflateSetDictionary(&z, piece.input.data(), static_cast<uInt>(piece.dictionary));
        piece.output.resize(deflateBound(&z, piece.Size()) + 16);
        z.next_in = piece.input.data() + piece.dictionary;
        z.avail_in = static_cast<uInt>(piece.Size());
        z.next_out = piece.output.data();
        z.avail_out = static_cast<uInt>(piece.output.size());
        for (;;) {
            int result = deflate(&z, Z_SYNC_FLUSH);
            if (result != Z_OK && result != Z_BUF_ERROR) {
                piece.problem = { "cannot compress", EINVAL };
                return;
            }
            if (z.avail_out)
                break;
            size_t used = piece.output.size();
            piece.output.resize(used + 4096);
            z.next_out = piece.output.data() + used;
            z.avail_out = 4096;
        }
        piece.compressed = piece.output.size() - z.avail_out;
    }

    const std::vector<const SourceFile*>& files_;
    std::vector<Piece> pieces_;
    std::vector<std::thread> pool_;
    std::mutex mutex_;                 // guards done, next_, written_, stop_
    std::condition_variable changed_;
    size_t next_ = 0, written_ = 0;
    bool stop_ = false;
    std::mutex readMutex_;             // guards the reading state below
    size_t file_ = 0;
    int fd_ = -1;
    uint64_t size_ = 0, offset_ = 0;
    Bytes tail_;
};

std::string ProblemText(const Problem& problem, const std::string& path)
{
    if (problem.error)
        return std::string(problem.doing) + " " + Quoted(path) + Because(problem.error);
    return Quoted(path) + " " + problem.doing;
}

bool SameFile(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

// Whether PATH is a package an earlier build wrote: the runtime image with
// its package offset set, and, once FINISHED, the package header behind it.
bool IsPackage(const std::string& path, bool finished)
{
    int fd = OpenForReading(path);
    if (fd < 0)
        return false;
    Bytes start(4096);
    long got = ReadSome(fd, start.data(), start.size());
    start.resize(got > 0 ? static_cast<size_t>(got) : 0);
    uint64_t p = start.size() >= DOS_HEADER_SIZE && start[0] == 'M' && start[1] == 'Z' ? PackageOffsetOf(start) : 0;
    uint8_t header[4] = { 0, 0, 0, 0 };
    bool package = p != 0 && (!finished || (SeekTo(fd, p) && ReadSome(fd, header, 4) == 4 && header[PACKAGE_DATA_OFFSET] == PACKAGE_HEADER_SIZE &&
                                            !header[1] && !header[2] && !header[3]));
    CloseFile(fd);
    return package;
}

bool HasPartName(const std::string& path)
{
    std::string name = fs::u8path(path).filename().u8string();
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0;
}

// Copies SOURCE's SIZE bytes into the part file as they are.
void CopyStored(PartFile& part, const SourceFile& source, uint64_t size, Bytes& scratch, const std::string& project)
{
    int fd = OpenForReading(source.path);
    if (fd < 0)
        throw BuildError(project, source.line, "cannot read " + Quoted(source.path) + Because(errno));
    uint64_t copied = 0;
    for (;;) {
        long n = ReadSome(fd, scratch.data(), static_cast<size_t>(std::min<uint64_t>(scratch.size(), size - copied)));
        if (n < 0) {
            int error = errno;
            CloseFile(fd);
            throw BuildError(project, source.line, "cannot read " + Quoted(source.path) + Because(error));
        }
        if (n == 0)
            break;
        part.Write(scratch.data(), static_cast<size_t>(n));
        copied += static_cast<uint64_t>(n);
        if (copied == size)
            break;
    }
    CloseFile(fd);
    if (copied != size)
        throw BuildError(project, source.line, Quoted(source.path) + " changed while it was packed");
}

}  // namespace

std::vector<const SourceFile*> CheckOutput(const Project& project, const std::string& output,
                                           const std::string& runtime)
{
    if (output.empty())
        throw BuildError(project.path, 0, "no output file");
    const fs::path out = fs::u8path(output), part = fs::u8path(output + ".part");
    std::error_code error;
    if (fs::is_directory(out, error))
        throw BuildError(project.path, 0, "the output " + Quoted(output) + " is a folder");
    auto refuse = [&](int line, const std::string& what, const std::string& path) {
        for (const fs::path& mine : { out, part })
            if (SameFile(mine, fs::u8path(path)))
                throw BuildError(project.path, line, "the output " + Quoted(mine.u8string()) + " would replace " +
                                                         what + " " + Quoted(path) + "; choose another output");
    };
    refuse(0, "the project file", project.path);
    if (!runtime.empty())
        refuse(0, "the runtime image", runtime);
    for (const auto& input : project.inputs)
        refuse(0, "the input file", input);
    std::vector<const SourceFile*> leftOut;
    for (const auto& plan : project.groups)
        for (const auto& f : plan.files) {
            if (!f.entry.isFile)
                continue;
            // Found in a folder: an earlier output, or an unfinished one, is no
            // source; any other file the output would replace is.
            if (f.walked && ((SameFile(out, fs::u8path(f.path)) && IsPackage(f.path, true)) ||
                             (HasPartName(f.path) && IsPackage(f.path, false))))
                leftOut.push_back(&f);
            else
                refuse(f.line, "the source file", f.path);
        }
    return leftOut;
}

static void WriteThroughPart(const Bytes& runtime, const Project& project, const std::string& output,
                             BuildStats* stats, void (*progress)(const BuildStats&, void*), void* context)
{
    Bytes head;
    std::string placeError;
    if (!PlaceRuntime(runtime, &head, &placeError))
        throw BuildError(project.path, 0, placeError);
    std::vector<const SourceFile*> leftOut = CheckOutput(project, output);

    // The files as they are now, before anything is written: a vanished file
    // or a package beyond the 4 GiB limit leaves nothing behind.
    std::vector<const SourceFile*> files;
    // The script's stream is taken to grow by 64 bytes at the most.
    uint64_t total = PACKAGE_HEADER_SIZE + SCRIPT_SIZE_FIELD + project.script.size() + 64;
    for (const auto& plan : project.groups) {
        total += GROUP_HEADER_SIZE + plan.group.destination.size() + 1;
        for (const auto& f : plan.files) {
            total += f.entry.name.size() + 1 + ENTRY_HEAD_SIZE;
            if (!f.entry.isFile || std::find(leftOut.begin(), leftOut.end(), &f) != leftOut.end())
                continue;
            std::error_code error;
            fs::file_status status = fs::status(fs::u8path(f.path), error);
            if (error)
                throw BuildError(project.path, f.line, "cannot read " + Quoted(f.path) + ": " + error.message());
            if (!fs::is_regular_file(status))
                throw BuildError(project.path, f.line, Quoted(f.path) + " is no longer a regular file");
            uint64_t size = fs::file_size(fs::u8path(f.path), error);
            if (error)
                throw BuildError(project.path, f.line, "cannot read " + Quoted(f.path) + ": " + error.message());
            total += FILE_RECORD_SIZE + size;
            files.push_back(&f);
        }
    }
    if (total > kDataLimit)
        throw BuildError(project.path, 0, "the files total more than the 4 GiB that the package's 32-bit offsets "
                                          "and sizes can address");

    PartFile part(project.path, output);
    auto beyondLimit = [&] {
        throw BuildError(project.path, 0, "the file data goes beyond the 4 GiB that the package's 32-bit offsets "
                                          "and sizes can address (the files grew during the build)");
    };
    Bytes scratch(kPiece);
    const uint64_t p = head.size();
    head.resize(p + PACKAGE_HEADER_SIZE, 0);
    part.Write(head);
    BuildStats local;
    uint64_t unpacked = 0;
    size_t sequence = 0, fileIndex = 0;
    unsigned threads = std::min(kMaxThreads, std::max(1u, std::thread::hardware_concurrency()));
    std::unique_ptr<Pipeline> started;
    try {
        started.reset(new Pipeline(files, threads));
    } catch (const std::system_error& e) {
        throw BuildError(project.path, 0, "cannot start a compressing thread: " + e.code().message());
    }
    Pipeline& pipeline = *started;
    static const uint8_t kZlibHeader[2] = { 0x78, 0xDA };
    for (const auto& plan : project.groups) {
        const uint64_t start = part.Position();
        part.Write(GroupHeader(plan.group));
        for (const auto& source : plan.files) {
            const PackageEntry& e = source.entry;
            if (!e.isFile) {
                part.Write(EntryHeader(e, 0, 0, false));
                continue;
            }
            if (fileIndex >= files.size() || files[fileIndex] != &source)
                continue;   // left out
            fileIndex++;
            const uint64_t headerAt = part.Position();
            part.Write(EntryHeader(e, 0, 0, false));
            const uint64_t dataAt = part.Position();
            uint64_t size = 0;
            bool compressed = e.compress;
            for (bool last = false; !last; sequence++) {
                Piece& piece = pipeline.Take(sequence);
                if (piece.problem.doing)
                    throw BuildError(project.path, source.line, ProblemText(piece.problem, source.path));
                last = piece.last;
                const uint8_t* raw = piece.input.data() + piece.dictionary;
                if (piece.first && piece.last)   // the whole file is at hand: store it when packing gains nothing
                    compressed = e.compress && piece.Size() && 2 + piece.compressed < piece.Size();
                if (compressed) {
                    if (piece.first)
                        part.Write(kZlibHeader, 2);
                    part.Write(piece.output.data(), piece.compressed);
                } else {
                    part.Write(raw, piece.Size());
                }
                size += piece.Size();
                local.bytesIn += piece.Size();
                pipeline.Release(sequence);
                if (part.Position() - p > kDataLimit || unpacked + size > kDataLimit)
                    beyondLimit();
                if (progress && !last) {
                    BuildStats now = local;
                    now.bytesOut += part.Position() - dataAt;
                    progress(now, context);
                }
            }
            uint64_t stored = part.Position() - dataAt;
            if (compressed && stored >= size) {   // a file of several pieces that did not shrink
                part.MoveTo(dataAt);
                CopyStored(part, source, size, scratch, project.path);
                compressed = false;
                stored = size;
            }
            part.PutAt(headerAt, EntryHeader(e, static_cast<uint32_t>(size), static_cast<uint32_t>(stored),
                                             compressed));
            unpacked += size;
            local.filesIn++;
            local.bytesOut += stored;
            if (progress)
                progress(local, context);
        }
        part.PutU32At(start, part.Position() - p);
    }
    pipeline.Stop();
    const uint64_t scriptOffset = part.Position() - p;
    Bytes block;
    ScriptWriter::putU32(block, static_cast<uint32_t>(project.script.size()));
    Bytes stream = CompressStream(project.script);
    block.insert(block.end(), stream.begin(), stream.end());
    part.Write(block);
    part.Write(SigningPadding(part.Position()));
    if (part.Position() - p > kDataLimit)
        beyondLimit();
    part.Cut();
    part.PutU32At(p + PACKAGE_DATA_OFFSET, PACKAGE_HEADER_SIZE);
    part.PutU32At(p + PACKAGE_SCRIPT_OFFSET, scriptOffset);
    part.PutU32At(p + PACKAGE_UNPACKED_TOTAL, unpacked);
    part.PutU32At(DOS_SCRIPT_READ_SIZE, project.script.size());
    // The checksum covers every byte from its start, patched fields included.
    part.PutU32At(DOS_CHECKSUM, part.Adler32From(CHECKSUM_START, scratch));
    part.Commit();
    *stats = local;
}

void WritePackageFile(const Bytes& runtime, const Project& project, const std::string& output, BuildStats* stats,
                      void (*progress)(const BuildStats&, void*), void* context)
{
    try {
        WriteThroughPart(runtime, project, output, stats, progress, context);
    } catch (const std::bad_alloc&) {
        // Unwinding has removed the part file and freed the pieces.
        throw BuildError(project.path, 0, "out of memory while writing " + Quoted(output) + Because(ENOMEM));
    }
}

}  // namespace quillset
