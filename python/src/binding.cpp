// The extension orsk._orsk: the one-shot calls, salvage, inspect and both streams of
// include/orsk/orsk.h. Every C call runs with the GIL released, so threads work at once.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orsk/orsk.h"

namespace py = pybind11;

namespace {

// Output room handed to a stream call: a whole restored chunk (1 MiB) and its block
// framing, so a block rarely takes two calls.
constexpr std::size_t StreamPiece = (1u << 20) + 4096;
// A restore stream keeps the container's first bytes to name the level it was written
// at when the given one fails: room for a stored block and the first compressed one,
// each at most 1 MiB and its framing.
constexpr std::size_t HeadBytes = 3u << 20;
// A valid block restores at most 1 MiB from 24 bytes or more (orsk_decompressed_size).
constexpr std::uint64_t MaxGrowth = 43691;
// Restored bytes per container byte taken on trust before the blocks bear them out: a
// file of one repeated byte, the best case, reaches about 2,000.
constexpr std::uint64_t TrustedGrowth = 64;

// The bytes of any object with the buffer protocol (bytes, bytearray, memoryview,
// array.array, ...), C-contiguous, held until destroyed (with the GIL).
class InputBytes {
public:
    explicit InputBytes(const py::handle& object) {
        if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    }
    ~InputBytes() { PyBuffer_Release(&view_); }
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;
    const char* data() const { return static_cast<const char*>(view_.buf); }
    std::size_t size() const { return std::size_t(view_.len); }

private:
    Py_buffer view_{};
};

// Raises the orsk.Error subclass for a status (orsk._errors.error builds it); `levels`
// are the levels a container restores at, for a wrong level.
[[noreturn]] void Raise(orsk_status status, const std::string& message, unsigned levels = 0) {
    py::object error = py::module_::import("orsk._errors").attr("error")(int(status), message, levels);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void RaiseStatus(orsk_status status, const char* doing) {
    Raise(status, std::string(doing) + ": " + orsk_status_text(status));
}

int CompressLevel(int level) {
    if (level < ORSK_MIN_LEVEL || level > ORSK_MAX_LEVEL) {
        Raise(ORSK_BAD_LEVEL, "level " + std::to_string(level) + ": the level must be 0 to 5");
    }
    return level;
}

// None: the level the container records or its first compressed block restores at.
int RestoreLevel(const std::optional<int>& level) {
    return level ? CompressLevel(*level) : ORSK_LEVEL_FROM_CONTAINER;
}

// The levels other than `level` that a container restores at, as a mask; 0 when it may
// restore at `level` or its level cannot be told. The bytes may be the container's head.
unsigned OtherLevels(const char* container, std::size_t size, int level) {
    orsk_info info{};
    {
        py::gil_scoped_release nogil;
        orsk_inspect(container, size, &info);  // the mask is filled as far as the head goes
    }
    return (info.level_mask & (1u << level)) != 0 ? 0 : info.level_mask;
}

std::string LevelList(unsigned levels) {
    std::string list;
    for (int k = ORSK_MIN_LEVEL; k <= ORSK_MAX_LEVEL; ++k) {
        if ((levels & (1u << k)) == 0) continue;
        const bool last = (levels >> (k + 1)) == 0;
        list += list.empty() ? "" : last ? " or " : ", ";
        list += std::to_string(k);
    }
    return list;
}

// Whether a failure at a given level may come from a container written at another: a
// plain one fails as damaged or cut there (its blocks are framed by the level given).
bool LevelMayBeWrong(orsk_status status, int level) {
    return level != ORSK_LEVEL_FROM_CONTAINER &&
           (status == ORSK_CORRUPT || status == ORSK_TRUNCATED || status == ORSK_WRONG_LEVEL);
}

// A restore failed: a container written at another level says so and names its level.
[[noreturn]] void RaiseRestore(orsk_status status, const char* container, std::size_t size, int level) {
    if (LevelMayBeWrong(status, level)) {
        if (const unsigned other = OtherLevels(container, size, level); other != 0) {
            Raise(ORSK_WRONG_LEVEL,
                  "cannot restore: the container does not restore at level " + std::to_string(level) +
                      "; it restores at level " + LevelList(other),
                  other);
        }
    }
    RaiseStatus(status, "cannot restore");
}

// A bytes object of `size` bytes, filled with the GIL released (nothing else holds it
// yet), then cut to the length written.
py::bytes NewBytes(std::uint64_t size) {
    if (size > std::uint64_t(PY_SSIZE_T_MAX)) throw std::bad_alloc();
    PyObject* made = PyBytes_FromStringAndSize(nullptr, Py_ssize_t(size));
    if (made == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(made);
}
char* Bytes(py::bytes& b) { return PyBytes_AS_STRING(b.ptr()); }
void Shrink(py::bytes& b, std::size_t size) {
    if (size == std::size_t(PyBytes_GET_SIZE(b.ptr()))) return;
    PyObject* p = b.release().ptr();
    if (_PyBytes_Resize(&p, Py_ssize_t(size)) != 0) throw py::error_already_set();  // p is freed then
    b = py::reinterpret_steal<py::bytes>(p);
}

// The flags of a compression: checked, and an effort of 0 (the level's own parse) to 9.
unsigned CompressFlags(bool checked, int effort) {
    if (effort < 0 || effort > 9) {
        Raise(ORSK_BAD_ARGUMENT, "effort " + std::to_string(effort) + ": the effort must be 0 to 9");
    }
    return (checked ? ORSK_CHECKED : 0u) | ORSK_EFFORT(effort);
}

py::bytes Compress(const py::object& data, int level, bool checked, int effort) {
    const InputBytes in(data);
    CompressLevel(level);
    const unsigned flags = CompressFlags(checked, effort);
    const std::uint64_t bound = orsk_compress_bound_ex(in.size(), flags);
    py::bytes out = NewBytes(bound);
    char* const o = Bytes(out);
    std::size_t written = 0;
    orsk_status s;
    {
        py::gil_scoped_release nogil;
        s = orsk_compress_ex(level, flags, in.data(), in.size(), o, bound, &written);
    }
    if (s != ORSK_OK) RaiseStatus(s, "cannot compress");
    Shrink(out, written);
    return out;
}

// What the container's headers claim it restores; raises as a restore would.
std::uint64_t ClaimedSize(const InputBytes& in, int restoreLevel) {
    std::uint64_t size = 0;
    orsk_status s;
    {
        py::gil_scoped_release nogil;
        s = orsk_decompressed_size(restoreLevel, in.data(), in.size(), &size);
    }
    if (s != ORSK_OK) RaiseRestore(s, in.data(), in.size(), restoreLevel);
    return size;
}

// Restores at most `wanted` bytes through call(output, capacity, &written). A claim far
// beyond the input (headers may claim 43,690 times it) is trusted only once the blocks
// that fit in less have restored: damage then fails as damage instead of as memory
// that cannot be had.
template <typename Call>
py::bytes RestoreClaimed(const InputBytes& in, int restoreLevel, std::uint64_t wanted, Call call) {
    const std::uint64_t trusted = std::min<std::uint64_t>(wanted, TrustedGrowth * std::uint64_t(in.size()) + (1u << 20));
    py::bytes out;
    std::size_t written = 0;
    orsk_status s;
    for (std::uint64_t capacity = trusted;; capacity = wanted) {
        out = NewBytes(capacity);
        char* const o = Bytes(out);
        {
            py::gil_scoped_release nogil;
            s = call(o, capacity, &written);
        }
        if (s != ORSK_NO_ROOM || capacity == wanted) break;
    }
    if (s != ORSK_OK) RaiseRestore(s, in.data(), in.size(), restoreLevel);
    Shrink(out, written);
    return out;
}

py::bytes Decompress(const py::object& data, const std::optional<int>& level) {
    const InputBytes in(data);
    const int restoreLevel = RestoreLevel(level);
    const std::uint64_t size = ClaimedSize(in, restoreLevel);
    return RestoreClaimed(in, restoreLevel, size, [&](char* o, std::uint64_t capacity, std::size_t* written) {
        return orsk_decompress(restoreLevel, in.data(), in.size(), o, capacity, written);
    });
}

// The bytes [offset, offset + length) of what a container restores, as far as they go;
// only the blocks that hold them are restored.
py::bytes DecompressRange(const py::object& data, std::uint64_t offset, std::uint64_t length,
                          const std::optional<int>& level) {
    const InputBytes in(data);
    const int restoreLevel = RestoreLevel(level);
    const std::uint64_t size = ClaimedSize(in, restoreLevel);
    if (offset > size) {
        Raise(ORSK_OUT_OF_RANGE, "offset " + std::to_string(offset) + " is past the end of the data (" +
                                     std::to_string(size) + " bytes)");
    }
    return RestoreClaimed(in, restoreLevel, std::min(length, size - offset),
                          [&](char* o, std::uint64_t capacity, std::size_t* written) {
                              return orsk_decompress_range(restoreLevel, in.data(), in.size(), offset, length, o,
                                                           capacity, written);
                          });
}

// (restored bytes, [(offset, length, why, block), ...]); orsk/__init__.py names the why.
py::tuple Salvage(const py::object& data, const std::optional<int>& level) {
    const InputBytes in(data);
    const int restoreLevel = RestoreLevel(level);
    // Room for what the headers claim when they all frame, or for the most any
    // container of this size restores; trusted up to TrustedGrowth, as in Decompress,
    // then doubled while the blocks bear it out.
    std::uint64_t most = 0;
    orsk_status s;
    {
        py::gil_scoped_release nogil;
        s = orsk_decompressed_size(restoreLevel, in.data(), in.size(), &most);
    }
    if (s != ORSK_OK) most = MaxGrowth * in.size() + (1u << 20);
    std::uint64_t capacity = std::min<std::uint64_t>(most, TrustedGrowth * std::uint64_t(in.size()) + (1u << 20));
    std::vector<orsk_damaged_range> ranges(16);
    py::bytes out;
    std::size_t written = 0, count = 0;
    for (;;) {
        out = NewBytes(capacity);
        char* const o = Bytes(out);
        {
            py::gil_scoped_release nogil;
            s = orsk_salvage(restoreLevel, in.data(), in.size(), o, capacity, &written, ranges.data(),
                             ranges.size(), &count);
        }
        if (s == ORSK_NO_ROOM && capacity < most) {
            capacity = std::min(2 * capacity, most);
        } else if ((s == ORSK_OK || s == ORSK_DAMAGED) && count > ranges.size()) {
            ranges.resize(count);
        } else {
            break;
        }
    }
    if (s != ORSK_OK && s != ORSK_DAMAGED) RaiseRestore(s, in.data(), in.size(), restoreLevel);
    Shrink(out, written);
    py::list damaged;
    for (std::size_t i = 0; i < count; ++i) {
        const orsk_damaged_range& r = ranges[i];
        damaged.append(py::make_tuple(r.offset, r.length, r.why, r.block));
    }
    return py::make_tuple(std::move(out), std::move(damaged));
}

// (status, checked, level, level detected, level mask, blocks, stored blocks, restored
// size); a plain container whose level cannot be told is no failure here.
py::tuple Inspect(const py::object& data) {
    const InputBytes in(data);
    orsk_info info{};
    orsk_status s;
    {
        py::gil_scoped_release nogil;
        s = orsk_inspect(in.data(), in.size(), &info);
    }
    if (s != ORSK_OK && s != ORSK_UNKNOWN_LEVEL) RaiseStatus(s, "cannot inspect");
    return py::make_tuple(int(s), info.checked != 0, info.level, info.level_detected != 0, info.level_mask,
                          info.blocks, info.stored_blocks, info.restored_size);
}

// One call of a stream at a time: the lock is taken with the GIL released, so a thread
// waiting for it does not hold up the one working.
using StreamLock = std::lock_guard<std::mutex>;

// Appends the output of repeated stream calls to `out` until a call makes no progress
// (with room, every call takes input or writes output), a call fails or `out` holds
// `limit` bytes. `at` advances over the input taken. Returns the status and whether the
// stream stalled, that is needs more input.
template <typename Call>
orsk_status Pump(Call call, std::size_t& at, std::size_t size, std::string& out, std::size_t limit, bool& stalled) {
    stalled = false;
    for (;;) {
        const std::size_t room = std::min(StreamPiece, limit - out.size());
        if (room == 0) return ORSK_OK;
        const std::size_t before = out.size();
        out.resize(before + room);
        std::size_t used = 0, made = 0;
        const orsk_status s = call(at, size - at, &out[before], room, used, made);
        at += used;
        out.resize(before + made);
        if (s != ORSK_OK) return s;
        if (used == 0 && made == 0) {
            stalled = true;
            return ORSK_OK;
        }
    }
}

std::size_t Limit(Py_ssize_t maxLength) { return maxLength < 0 ? SIZE_MAX : std::size_t(maxLength); }

// orsk._orsk.Compressor: compress() returns the container bytes its input completes,
// flush() ends the input and returns the rest.
class Compressor {
public:
    Compressor(int level, bool checked, int effort) {
        if (orsk_status s = orsk_compress_stream_create(CompressLevel(level), CompressFlags(checked, effort), &stream_);
            s != ORSK_OK) {
            RaiseStatus(s, "cannot create a compression stream");
        }
    }
    ~Compressor() { orsk_compress_stream_destroy(stream_); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    py::bytes Compress(const py::object& data) {
        const InputBytes in(data);
        std::string out;
        orsk_status s;
        {
            py::gil_scoped_release nogil;
            const StreamLock lock(busy_);
            std::size_t at = 0;
            bool stalled = false;
            s = Pump(
                [&](std::size_t from, std::size_t left, char* o, std::size_t room, std::size_t& used,
                    std::size_t& made) {
                    return orsk_compress_stream_update(stream_, in.data() + from, left, &used, o, room, &made);
                },
                at, in.size(), out, SIZE_MAX, stalled);
        }
        if (s != ORSK_OK) RaiseStatus(s, "cannot compress");
        return py::bytes(out);
    }

    py::bytes Flush() {
        std::string out;
        orsk_status s = ORSK_OK;
        {
            py::gil_scoped_release nogil;
            const StreamLock lock(busy_);
            for (int done = 0; done == 0 && s == ORSK_OK;) {
                const std::size_t before = out.size();
                out.resize(before + StreamPiece);
                std::size_t made = 0;
                s = orsk_compress_stream_finish(stream_, &out[before], StreamPiece, &made, &done);
                out.resize(before + made);
            }
        }
        if (s != ORSK_OK) RaiseStatus(s, "cannot compress");
        return py::bytes(out);
    }

private:
    std::mutex busy_;
    orsk_compress_stream* stream_ = nullptr;
};

// orsk._orsk.Decompressor, shaped like bz2.BZ2Decompressor: decompress(data, max_length)
// returns at most max_length restored bytes and keeps the input it did not take;
// finish() ends the container. The call that meets damage returns the bytes restored
// before it, and the next call raises.
//
// With a level given, a failure that may come from a container written at another
// level is held back (needs_input) until the container's head shows the level it
// restores at, HeadBytes have arrived or finish() is called: the failure can come from
// the first block's header, before that block has arrived whole.
class Decompressor {
public:
    explicit Decompressor(const std::optional<int>& level) : level_(RestoreLevel(level)) {
        if (orsk_status s = orsk_decompress_stream_create(level_, 0, &stream_); s != ORSK_OK) {
            RaiseStatus(s, "cannot create a restore stream");
        }
    }
    ~Decompressor() { orsk_decompress_stream_destroy(stream_); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    py::bytes Decompress(const py::object& data, Py_ssize_t maxLength) {
        const InputBytes in(data);
        Outcome r;
        {
            py::gil_scoped_release nogil;
            const StreamLock lock(busy_);
            KeepHead(in.data(), in.size());
            if (failure_ == ORSK_OK) {
                // The input is what an earlier call left, then `data`; only what is not
                // taken now is copied.
                const char* input = in.data();
                std::size_t size = in.size();
                if (pendingAt_ < pending_.size()) {
                    pending_.erase(0, pendingAt_);
                    pending_.append(in.data(), in.size());
                    input = pending_.data();
                    size = pending_.size();
                }
                std::size_t at = 0;
                failure_ = Pump(
                    [&](std::size_t from, std::size_t left, char* o, std::size_t room, std::size_t& used,
                        std::size_t& made) {
                        return orsk_decompress_stream_update(stream_, input + from, left, &used, o, room, &made);
                    },
                    at, size, r.out, Limit(maxLength), needsInput_);
                if (input == pending_.data()) {
                    pendingAt_ = at;
                } else {
                    pending_.assign(input + at, size - at);
                    pendingAt_ = 0;
                }
            }
            Settle(r, false);
        }
        return Delivered(std::move(r));
    }

    // Ends the container: takes what input is left, then writes the rest.
    py::bytes Finish(Py_ssize_t maxLength) {
        Outcome r;
        {
            py::gil_scoped_release nogil;
            const StreamLock lock(busy_);
            const std::size_t limit = Limit(maxLength);
            if (failure_ == ORSK_OK) {
                bool stalled = false;
                failure_ = Pump(
                    [&](std::size_t from, std::size_t left, char* o, std::size_t room, std::size_t& used,
                        std::size_t& made) {
                        return orsk_decompress_stream_update(stream_, pending_.data() + from, left, &used, o, room,
                                                             &made);
                    },
                    pendingAt_, pending_.size(), r.out, limit, stalled);
            }
            int done = 0;
            while (failure_ == ORSK_OK && done == 0 && pendingAt_ == pending_.size() && r.out.size() < limit) {
                const std::size_t room = std::min(StreamPiece, limit - r.out.size());
                const std::size_t before = r.out.size();
                r.out.resize(before + room);
                std::size_t made = 0;
                failure_ = orsk_decompress_stream_finish(stream_, &r.out[before], room, &made, &done);
                r.out.resize(before + made);
            }
            eof_ = eof_ || done != 0;
            needsInput_ = false;
            Settle(r, true);
        }
        return Delivered(std::move(r));
    }

    bool NeedsInput() {
        py::gil_scoped_release nogil;
        const StreamLock lock(busy_);
        return needsInput_;
    }
    bool Eof() {
        py::gil_scoped_release nogil;
        const StreamLock lock(busy_);
        return eof_;
    }

private:
    // What a call gives back once the lock is let go.
    struct Outcome {
        std::string out;
        orsk_status failure = ORSK_OK;  // to raise, unless out holds bytes to deliver first
        std::string head;               // the container's head, to probe for its level
        bool mayWait = false;           // the failure may wait for more of the head
    };

    void KeepHead(const char* data, std::size_t size) {
        if (level_ == ORSK_LEVEL_FROM_CONTAINER || head_.size() >= HeadBytes) return;
        head_.append(data, std::min(size, HeadBytes - head_.size()));
    }

    // Under the lock: what the call reports when the stream has failed.
    void Settle(Outcome& r, bool ended) {
        if (failure_ == ORSK_OK) return;
        r.failure = failure_;
        if (!r.out.empty()) {  // delivered first; the next call fails again
            needsInput_ = false;
            return;
        }
        const bool levelMayBeWrong = LevelMayBeWrong(failure_, level_);
        if (levelMayBeWrong) r.head = head_;
        r.mayWait = levelMayBeWrong && !ended && head_.size() < HeadBytes;
        needsInput_ = r.mayWait;
    }

    // With the GIL: the restored bytes, or the failure raised.
    py::bytes Delivered(Outcome r) {
        if (r.failure == ORSK_OK || !r.out.empty()) return py::bytes(r.out);
        if (!r.head.empty() && (OtherLevels(r.head.data(), r.head.size(), level_) != 0 || !r.mayWait)) {
            RaiseRestore(r.failure, r.head.data(), r.head.size(), level_);
        }
        if (r.mayWait) return py::bytes();
        RaiseStatus(r.failure, "cannot restore");
    }

    std::mutex busy_;
    orsk_decompress_stream* stream_ = nullptr;
    const int level_;
    orsk_status failure_ = ORSK_OK;  // the stream's failure, which every later call returns
    std::string pending_;            // input not taken yet, from pendingAt_ on
    std::size_t pendingAt_ = 0;
    std::string head_;               // the container's first HeadBytes, with a level given
    bool needsInput_ = true;
    bool eof_ = false;
};

}  // namespace

PYBIND11_MODULE(_orsk, m) {
    m.doc() = "The orsk C library: one-shot calls, salvage, inspect and streams";
    m.attr("MIN_LEVEL") = ORSK_MIN_LEVEL;
    m.attr("MAX_LEVEL") = ORSK_MAX_LEVEL;
    m.def("version", [] { return std::string(orsk_version()); }, "The version of the library that runs.");
    m.def("status_text", [](int status) { return std::string(orsk_status_text(status)); });
    m.def("compress", &Compress, py::arg("data"), py::arg("level"), py::kw_only(), py::arg("checked") = false,
          py::arg("effort") = 0,
          "Compresses data (any object with the buffer protocol) into a container; an effort of 1 to 9 "
          "searches harder for a smaller container in the same format (0: the level's own parse).");
    m.def("decompress", &Decompress, py::arg("data"), py::arg("level") = py::none(),
          "Restores a container; level None tells it from the container.");
    m.def("decompress_range", &DecompressRange, py::arg("data"), py::arg("offset"), py::arg("length"),
          py::arg("level") = py::none(),
          "The bytes [offset, offset + length) of what a container restores, as far as they go; only the "
          "blocks that hold them are restored.");
    m.def("salvage", &Salvage, py::arg("data"), py::arg("level") = py::none());
    m.def("inspect", &Inspect, py::arg("data"));

    py::class_<Compressor>(m, "Compressor")
        .def(py::init<int, bool, int>(), py::arg("level"), py::kw_only(), py::arg("checked") = false,
             py::arg("effort") = 0)
        .def("compress", &Compressor::Compress, py::arg("data"))
        .def("flush", &Compressor::Flush);
    py::class_<Decompressor>(m, "Decompressor")
        .def(py::init<const std::optional<int>&>(), py::arg("level") = py::none())
        .def("decompress", &Decompressor::Decompress, py::arg("data"), py::arg("max_length") = -1)
        .def("finish", &Decompressor::Finish, py::arg("max_length") = -1)
        .def_property_readonly("needs_input", &Decompressor::NeedsInput)
        .def_property_readonly("eof", &Decompressor::Eof);
}
