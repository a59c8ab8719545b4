// libFuzzer harness for the in-place patcher: any bytes, changed on a real
// file in any mode (an offset the window allows in both directions, a target
// for the first selected line, a linear scale), with any selection, must
// keep the file's length and change nothing but the digits of the selected
// timing lines, exactly as a reference model written apart says.
//
// Input: 20 header bytes, then the file's bytes.
//   [0] bit 0: add (1) or remove (0); bit 1: put the bytes across the
//       patcher's 1 MiB block boundary; bit 2: make a write fail; bits 3-4:
//       which write fails (1st to 4th); bits 5-7: how many bytes of it go
//       to disk first (x 7), cutting a line where they end
//   [1] hours % 6, [2] minutes % 60, [3] seconds % 60, [4-5] ms % 1000
//   [6-7] with bit 1: how many of the bytes fall before the boundary
//   [8] mode % 3: the offset above, --to, a scale
//   [9-10] --to: the target, in tenths of a second
//   [11-12] scale numerator, [13-14] denominator (1 to 4096 each),
//   [15-16] what the scale adds, signed, in tenths of a second
//   [17] bit 0: select by position, bit 1: from a time, bit 2: until one
//   [18] first position (1 to 8), from (x 5 s); [19] how many positions
//       more (0 to 7), until after from (x 5 s, at least 5 s)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "file_io.h"
#include "patcher.h"
#include "probe.h"
#include "time_shift.h"
#include "timing_line.h"

using namespace chronelle;

namespace {

constexpr std::int64_t BlockSize = 1 << 20;  // the patcher's read size
constexpr std::int64_t LatestMs = ((99 * 60 + 59) * 60 + 59) * 1000 + 999;

std::string folder;
std::string path;

[[noreturn]] void fault(const char* what)
{
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

void check(bool holds, const char* what)
{
    if (!holds)
        fault(what);
}

void removeFolder()
{
    unlink(path.c_str());
    rmdir(folder.c_str());
}

// Writes the file: `pad` bytes of a hole (read back as NULs) ended by an LF
// when pad > 0, then `bytes`.
void put(const std::string& bytes, std::int64_t pad)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    check(fd >= 0, "cannot create the work file");
    if (pad > 0) {
        check(ftruncate(fd, pad - 1) == 0, "ftruncate");
        check(pwrite(fd, "\n", 1, pad - 1) == 1, "pwrite");
    }
    check(pwrite(fd, bytes.data(), bytes.size(), pad) == ssize_t(bytes.size()), "pwrite");
    close(fd);
}

// The file's bytes from `from` on. The bytes before it, when there are any,
// must still be the hole and its LF: nothing there is a timing line.
std::string get(std::int64_t from)
{
    int fd = open(path.c_str(), O_RDONLY);
    check(fd >= 0, "cannot reopen the work file");
    static char buffer[1 << 16];
    static const char zeros[sizeof buffer] = {};
    std::int64_t at = 0;
    ssize_t n;
    while (at < from &&
           (n = pread(fd, buffer, std::size_t(std::min<std::int64_t>(sizeof buffer, from - at)),
                      at)) > 0) {
        std::size_t hole = std::size_t(at + n == from ? n - 1 : n);
        check(std::memcmp(buffer, zeros, hole) == 0, "the padding changed");
        check(at + n < from || buffer[n - 1] == '\n', "the padding's LF changed");
        at += n;
    }
    std::string bytes;
    while ((n = pread(fd, buffer, sizeof buffer, at)) > 0) {
        bytes.append(buffer, std::size_t(n));
        at += n;
    }
    close(fd);
    return bytes;
}

// The reference model, written apart from the core: a line is rewritten when
// it starts the file or follows an LF, has ':' at 2 and 5 and '>' at 15, digits
// at the 18 digit positions within its first 29 bytes (no LF among them), and
// minutes and seconds below 60. Each time moves alone and is held at
// 00:00:00,000 .. 99:59:59,999.
struct Model {
    std::string bytes;
    std::int64_t lines = 0;
    std::int64_t clamped = 0;
    std::vector<LineChange> changes;  // every line that changes, in order
};

bool digit(char c) { return c >= '0' && c <= '9'; }

bool rewritable(const char* t, std::size_t length)
{
    if (length < 29 || t[2] != ':' || t[5] != ':' || t[15] != '>')
        return false;
    for (std::size_t i = 0; i < 29; ++i)
        if (t[i] == '\n')
            return false;
    static const int digits[] = {0, 1, 3, 4, 6, 7, 9, 10, 11, 17, 18, 20, 21, 23, 24, 26, 27, 28};
    for (int p : digits)
        if (!digit(t[p]))
            return false;
    return t[3] <= '5' && t[6] <= '5' && t[20] <= '5' && t[23] <= '5';
}

int value(const char* t, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + (t[i] - '0');
    return v;
}

// What the run asks for, as the model reads it.
struct Request {
    int mode = 0;  // 0 offset, 1 to, 2 scale
    std::int64_t offsetMs = 0, targetMs = 0;
    std::int64_t num = 1, den = 1, add = 0;
    bool byCue = false, byFrom = false, byUntil = false;
    std::int64_t firstCue = 1, lastCue = 1, fromMs = 0, untilMs = 0;
};

std::int64_t timeOf(const char* t)
{
    return ((value(t, 2) * 60 + value(t + 3, 2)) * 60 + value(t + 6, 2)) * 1000LL + value(t + 9, 3);
}

// The scale, rounded to the nearest with halves away from zero, in 128 bits.
std::int64_t scaled(std::int64_t t, const Request& q)
{
    __int128 v = __int128(q.num) * t + q.add;
    __int128 quotient = v / q.den, rest = v % q.den;
    if (2 * (rest < 0 ? -rest : rest) >= q.den)
        quotient += v < 0 ? -1 : 1;
    return std::int64_t(quotient);
}

std::int64_t putTime(char* t, std::int64_t ms)
{
    int held = ms < 0 || ms > LatestMs;
    ms = ms < 0 ? 0 : ms > LatestMs ? LatestMs : ms;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", int(ms / 3600000), int(ms / 60000 % 60),
                  int(ms / 1000 % 60), int(ms % 1000));
    std::memcpy(t, text, 2);
    std::memcpy(t + 3, text + 3, 2);
    std::memcpy(t + 6, text + 6, 2);
    std::memcpy(t + 9, text + 9, 3);
    return held;
}

std::int64_t moveTime(char* t, std::int64_t offsetMs) { return putTime(t, timeOf(t) + offsetMs); }

// The first `lines` selected lines (all by default) changed; `firstLine` is
// the line number of the first byte in the file.
Model expected(const std::string& original, const Request& q, std::int64_t lines = INT64_MAX,
               std::int64_t firstLine = 1)
{
    Model m;
    m.bytes = original;
    std::int64_t cue = 0, offset = q.offsetMs, lineNumber = firstLine;
    bool found = q.mode != 1;
    std::size_t start = 0;
    while (start < m.bytes.size()) {
        std::size_t lf = m.bytes.find('\n', start);
        std::size_t end = lf == std::string::npos ? m.bytes.size() : lf;
        char* t = &m.bytes[start];
        if (rewritable(t, end - start)) {
            ++cue;
            std::int64_t begins = timeOf(t);
            bool selected = (!q.byCue || (cue >= q.firstCue && cue <= q.lastCue)) &&
                            (!q.byFrom || begins >= q.fromMs) && (!q.byUntil || begins < q.untilMs);
            if (selected && m.lines < lines) {
                if (!found) {
                    offset = q.targetMs - begins;
                    found = true;
                }
                ++m.lines;
                std::string before(t, 29);
                if (q.mode == 2)
                    m.clamped += putTime(t, scaled(timeOf(t), q)) +
                                 putTime(t + 17, scaled(timeOf(t + 17), q));
                else
                    m.clamped += moveTime(t, offset) + moveTime(t + 17, offset);
                if (before != std::string(t, 29))
                    m.changes.push_back(LineChange{lineNumber, cue, before, std::string(t, 29), 0});
            }
        }
        // Line numbers count an LF, a CR LF and a lone CR each as a line end.
        for (std::size_t k = start; k < end; ++k)
            lineNumber +=
                original[k] == '\r' && !(k + 1 < original.size() && original[k + 1] == '\n');
        if (lf == std::string::npos)
            break;
        start = lf + 1;
        ++lineNumber;
    }
    return m;
}

// The pieces the 256-byte line buffer delivers: up to and including an LF, at
// most 255 bytes each.
std::vector<std::string> pieces(const std::string& bytes)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t n = 0;
        while (n < 255 && i + n < bytes.size()) {
            ++n;
            if (bytes[i + n - 1] == '\n')
                break;
        }
        out.push_back(bytes.substr(i, n));
        i += n;
    }
    return out;
}

bool timingModel(const std::string& piece)
{
    return piece.size() >= 16 && piece[2] == ':' && piece[5] == ':' && piece[15] == '>';
}

// The line tests, each on an exactly-sized heap copy so that a read past the
// end is caught by AddressSanitizer.
void checkLineTests(const std::string& original, std::int64_t offsetMs)
{
    for (const std::string& piece : pieces(original)) {
        std::unique_ptr<char[]> exact(new char[piece.size()]);
        std::memcpy(exact.get(), piece.data(), piece.size());
        check(isTimingLine(exact.get(), piece.size()) == timingModel(piece), "isTimingLine");
        bool shiftable = isShiftable(exact.get(), piece.size());
        check(!shiftable || timingModel(piece), "isShiftable without isTimingLine");

        // addTime sees the piece up to its first NUL, as a C string.
        std::size_t length = std::strlen(piece.c_str());
        std::unique_ptr<char[]> text(new char[length + 1]);
        std::memcpy(text.get(), piece.c_str(), length + 1);
        std::string model = piece.substr(0, length);
        if (rewritable(model.data(), length))
            moveTime(&model[0], offsetMs), moveTime(&model[17], offsetMs);
        int sign = offsetMs < 0 ? -1 : 1;
        std::int64_t ms = offsetMs * sign;
        char* back = addTime(text.get(), sign * int(ms / 3600000), sign * int(ms / 60000 % 60),
                             sign * int(ms / 1000 % 60), sign * int(ms % 1000));
        check(back == text.get(), "addTime returns its buffer");
        check(std::string(text.get(), length + 1) == model + '\0', "addTime against the model");
    }
}

void checkProbe(const std::string& original, bool padded)
{
    // Padded, the first 15 pieces are NULs of the padding's long line.
    int count = 0, lines = 0;
    for (const std::string& piece : pieces(original)) {
        if (padded || lines++ == ProbeLines)
            break;
        count += timingModel(piece);
    }
    ProbeResult r = probe(path);
    check(r.opened, "probe opens a readable file");
    check(r.timingLines == count, "probe's count");
    check(r.accepted == (count >= ProbeRequired), "probe's verdict");
}

// Every changed byte is one of the 18 digit positions of a line, starting the
// file or after an LF, that passes isTimingLine.
void checkChangedBytes(const std::string& before, const std::string& after)
{
    check(before.size() == after.size(), "length kept");
    std::size_t lineStart = 0;
    for (std::size_t k = 0; k < before.size(); ++k) {
        if (k > 0 && before[k - 1] == '\n')
            lineStart = k;
        if (before[k] == after[k])
            continue;
        std::size_t p = k - lineStart;
        bool digitPosition = false;
        for (int d : DigitPositions)
            digitPosition = digitPosition || std::size_t(d) == p;
        check(digitPosition, "a changed byte outside the digit positions");
        std::size_t end = before.find('\n', lineStart);
        std::size_t length = (end == std::string::npos ? before.size() : end + 1) - lineStart;
        check(isTimingLine(before.data() + lineStart, length),
              "a changed line that is no timing line");
        check(digit(before[k]) && digit(after[k]), "a changed byte that is no digit");
    }
}

std::vector<ProgressStep> steps;

void record(const ProgressStep& step, void*) { steps.push_back(step); }

void checkSteps(const PatchResult& r)
{
    const ProgressStep order[] = {StepOpening, StepModifying, StepClosing, StepSucceeded};
    std::size_t n = steps.size();
    check(n >= (r.ok ? 1u : 2u), "too few progress steps");
    std::size_t normal = r.ok ? n : n - 1;
    for (std::size_t i = 0; i < normal; ++i)
        check(i < 4 && steps[i].stage == order[i].stage && steps[i].fraction == order[i].fraction,
              "progress steps out of order");
    if (r.ok) {
        check(n == 4, "success without every step");
    } else {
        check(steps[n - 1].stage == Stage::Failed, "a failure not shown as one");
        check(steps[n - 1].fraction == steps[n - 2].fraction, "Erreur moved the bar");
    }
}

PatchResult shift(const ShiftOptions& options)
{
    steps.clear();
    PatchResult r = shiftFile(path, options, record, nullptr);
    checkSteps(r);
    return r;
}

// The run's options, as the patcher takes them.
ShiftOptions optionsFor(const Request& q)
{
    ShiftOptions o;
    o.sync = false;
    o.retiming.kind = q.mode == 0   ? Retiming::Kind::Offset
                      : q.mode == 1 ? Retiming::Kind::To
                                    : Retiming::Kind::Scale;
    o.retiming.offsetMs = q.offsetMs;
    o.retiming.targetMs = q.targetMs;
    o.retiming.scale = Scale{q.num, q.den, q.add};
    if (q.byCue) {
        o.selection.firstCue = q.firstCue;
        o.selection.lastCue = q.lastCue;
    }
    if (q.byFrom)
        o.selection.fromMs = q.fromMs;
    if (q.byUntil)
        o.selection.untilMs = q.untilMs;
    return o;
}

// The dry run's preview: the first and the last changes of the model.
void checkPreview(const PatchResult& dry, const Model& model)
{
    std::size_t n = model.changes.size();
    check(dry.changedLines == std::int64_t(n), "the dry run's count of changed lines");
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < n; ++i)
        if (i < PreviewLines || i + PreviewLines >= n)
            shown.push_back(i);
    check(dry.preview.size() == shown.size(), "the dry run's preview size");
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const LineChange& a = dry.preview[k];
        const LineChange& b = model.changes[shown[k]];
        check(a.line == b.line && a.cue == b.cue && a.before == b.before && a.after == b.after,
              "the dry run's preview against the model");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/chronelle-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    check(mkdtemp(name.data()) != nullptr, "cannot make a work folder");
    folder = name.data();
    path = folder + "/file.srt";
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t Header = 20;
    if (size < Header)
        return 0;
    int flags = data[0];
    int adri = flags & 1;
    bool acrossBlocks = flags & 2;
    int failingWrite = flags & 4 ? 1 + (flags >> 3 & 3) : 0;
    std::size_t keep = std::size_t(flags >> 5) * 7;
    Shift s{data[1] % 6, data[2] % 60, data[3] % 60, (data[4] << 8 | data[5]) % 1000};
    auto word = [&](int at) { return data[at] << 8 | data[at + 1]; };
    Request q;
    q.mode = data[8] % 3;
    q.offsetMs = toMilliseconds(s) * (adri ? 1 : -1);
    q.targetMs = word(9) * 100LL;
    q.num = 1 + word(11) % 4096;
    q.den = 1 + word(13) % 4096;
    q.add = std::int16_t(word(15)) * 100LL;
    q.byCue = data[17] & 1;
    q.byFrom = data[17] & 2;
    q.byUntil = data[17] & 4;
    q.firstCue = 1 + data[18] % 8;
    q.lastCue = q.firstCue + data[19] % 8;
    q.fromMs = data[18] * 5000LL;
    q.untilMs = q.fromMs + (data[19] + 1) * 5000LL;
    std::string original(reinterpret_cast<const char*>(data) + Header, size - Header);
    // Across blocks, the bytes follow one long line of a hole and an LF, so
    // that `before` of them fall in the patcher's first block. That line is
    // no timing line and leaves the model unchanged.
    std::int64_t before = acrossBlocks ? (data[6] << 8 | data[7]) % (original.size() + 1) : 0;
    std::int64_t pad = acrossBlocks ? BlockSize - before : 0;

    // The padding is a line of its own.
    Model model = expected(original, q, INT64_MAX, pad > 0 ? 2 : 1);
    ShiftOptions options = optionsFor(q);

    checkLineTests(original, q.offsetMs);

    put(original, pad);
    checkProbe(original, pad > 0);

    // A dry run reads and counts, and writes nothing.
    options.dryRun = true;
    PatchResult dry = shift(options);
    options.dryRun = false;
    check(get(pad) == original, "a dry run changed the file");
    if (q.mode == 1 && model.lines == 0) {
        // --to with nothing to move: refused, and the real run too.
        check(!dry.ok && dry.failure == Failure::NoLineToMove, "--to without a line");
        PatchResult r = shift(options);
        check(!r.ok && r.failure == Failure::NoLineToMove && get(pad) == original,
              "--to without a line changed the file");
        return 0;
    }
    check(dry.ok, "a dry run failed");
    check(dry.timingLines == model.lines && dry.clampedTimes == model.clamped,
          "dry run counts against the model");
    checkPreview(dry, model);

    failWriteNumber(failingWrite, keep);
    PatchResult r = shift(options);
    failWriteNumber(0);
    std::string after = get(pad);
    checkChangedBytes(original, after);
    if (!r.ok) {
        // Only the injected failure may stop a shift, and the file is then
        // exactly its first selected lines changed, as many as reported, and
        // the rest untouched: never a line cut in two.
        check(failingWrite != 0, "a shift failed without a cause");
        check(r.failure == Failure::Write && r.errnum == EIO && r.tornAt == -1,
              "the failure is reported as a failed write");
        check(r.partlyWritten == (r.timingLines > 0), "the account of a failed write");
        check(after == expected(original, q, r.timingLines).bytes,
              "a failed shift left other than its first lines changed");
        return 0;
    }
    check(after == model.bytes, "the shift against the model");
    check(r.timingLines == model.lines && r.clampedTimes == model.clamped,
          "counts against the model");

    // An offset by position back the other way gives the original whenever
    // nothing was held.
    if (q.mode == 0 && !q.byFrom && !q.byUntil && r.clampedTimes == 0) {
        options.retiming.offsetMs = -q.offsetMs;
        PatchResult back = shift(options);
        check(back.ok && back.clampedTimes == 0, "the way back failed or clamped");
        check(get(pad) == original, "shifting back did not give the original");
    }
    return 0;
}
