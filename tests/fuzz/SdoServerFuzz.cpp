// The CANopen SDO server fed any frames and time steps.
//
// Promises checked: the server never writes outside an object, and writes only what a client
// completed. Its dictionary keeps every entry in one block of memory between guard bytes and
// copies a written value into the entry's own bytes, so a value handed over for the wrong
// entry or of the wrong length shows as a broken guard or a mismatch. A Write comes only
// while the server takes an expedited initiate request (with its bytes) or the last segment
// of a download whose earlier segments it acknowledged (with those bytes, in order, and the
// size the client announced); never more than MaxDownloadSize. What an upload sends is the
// entry's value: the expedited bytes, or the segments, toggling from 0, that add up to the
// size the initiate answer stated. The server answers only on 0x580+n with 8-byte frames,
// and after it aborts it is idle.
//
// Block transfers: a block download writes once, at its end, the bytes of the segments the
// server acknowledged (taken in sequence from those it received), less the end's unused
// bytes, with their CRC when the client asked for one; a block upload's sub-blocks carry
// the entry's value from the first segment not acknowledged, numbered from 1, and its end
// the unused bytes and the value's CRC.
//
// Input: a header, then operations until the input ends.
//   header  node (1 + byte % 127), then a byte: bit 0 no size in expedited answers, bit 1
//           no block transfers, bits 2-7 the block size (0 for 127)
//   op      one byte: bits 0-1 the kind
//     0 a request on 0x600+n: 8 data bytes
//     1 any frame: id (2 bytes, & 0x7FF), length byte (% 10: 9 is a remote request), 8 bytes
//     2 time passes: byte × 8 ms
//     3 a request built from the op's other bits: bits 2-4 the command specifier, bits 5-7
//       an entry (0x2000 + bits % 6), then a byte of flags (the command's low five bits)
//       and 4 data bytes

#include "FuzzCheck.h"
#include "FuzzFrames.h"
#include "FuzzInput.h"
#include "canopen/Crc16.h"
#include "canopen/SdoBlockFrames.h"
#include "canopen/SdoServer.h"

#include <array>
#include <optional>

using namespace bus;
using namespace bus::canopen;

namespace {

constexpr std::uint8_t Guard = 0xA5;
constexpr std::size_t GuardBytes = 8;

struct Entry {
    std::uint16_t index;
    std::size_t size; // fixed size; a domain takes 0 to size bytes
    bool domain;
    bool readable;
    bool writable;
    std::size_t offset = 0; // in the block
    std::size_t length = 0; // bytes of the value now (a domain's vary)
};

// Entries 0x2000 to 0x2003 (sub-index 0) in one block, each followed by guard bytes; 0x2004
// and 0x2005 do not exist.
class GuardedDictionary : public ObjectDictionary {
public:
    GuardedDictionary() {
        entries_ = {Entry{0x2000, 4, false, true, true}, Entry{0x2001, 2, false, true, false},
                    Entry{0x2002, 40, true, true, true}, Entry{0x2003, 300, true, false, true}};
        std::size_t at = GuardBytes;
        for (Entry& e : entries_) {
            e.offset = at;
            e.length = e.size;
            at += e.size + GuardBytes;
        }
        block_.assign(at, Guard);
        for (Entry& e : entries_)
            for (std::size_t i = 0; i < e.size; ++i)
                block_[e.offset + i] = static_cast<std::uint8_t>(e.index + i * 3);
    }

    SdoReadResult Read(std::uint16_t index, std::uint8_t subIndex) override {
        Entry* e = find(index, subIndex);
        if (!e)
            return {subIndex ? SdoAbort::NoSubIndex : SdoAbort::NoObject, {}};
        if (!e->readable)
            return {SdoAbort::WriteOnly, {}};
        lastRead = Value(*e);
        return {0, *lastRead};
    }

    std::uint32_t Write(std::uint16_t index, std::uint8_t subIndex,
                        const std::vector<std::uint8_t>& data) override {
        writes.push_back({index, subIndex, data});
        Entry* e = find(index, subIndex);
        if (!e)
            return subIndex ? SdoAbort::NoSubIndex : SdoAbort::NoObject;
        if (!e->writable)
            return SdoAbort::ReadOnly;
        if (e->domain ? data.size() > e->size : data.size() != e->size)
            return e->domain ? SdoAbort::LengthTooHigh : SdoAbort::LengthMismatch;
        std::copy(data.begin(), data.end(), block_.begin() + static_cast<long>(e->offset));
        e->length = data.size();
        return 0;
    }

    std::uint32_t CheckWrite(std::uint16_t index, std::uint8_t subIndex,
                             std::optional<std::size_t> size) override {
        Entry* e = find(index, subIndex);
        if (!e)
            return subIndex ? SdoAbort::NoSubIndex : SdoAbort::NoObject;
        if (!e->writable)
            return SdoAbort::ReadOnly;
        if (size && *size > e->size)
            return SdoAbort::LengthTooHigh;
        return 0;
    }

    void CheckGuards() const {
        std::size_t at = 0;
        for (const Entry& e : entries_) {
            for (std::size_t i = at; i < e.offset; ++i)
                FUZZ_CHECK(block_[i] == Guard, "no write lands outside an entry");
            at = e.offset + e.size;
        }
        for (std::size_t i = at; i < block_.size(); ++i)
            FUZZ_CHECK(block_[i] == Guard, "no write lands outside an entry");
    }

    struct Written {
        std::uint16_t index;
        std::uint8_t subIndex;
        std::vector<std::uint8_t> data;
    };
    std::vector<Written> writes;
    std::optional<std::vector<std::uint8_t>> lastRead;

private:
    Entry* find(std::uint16_t index, std::uint8_t subIndex) {
        if (subIndex != 0)
            return nullptr;
        for (Entry& e : entries_)
            if (e.index == index)
                return &e;
        return nullptr;
    }
    std::vector<std::uint8_t> Value(const Entry& e) const {
        return {block_.begin() + static_cast<long>(e.offset),
                block_.begin() + static_cast<long>(e.offset + e.length)};
    }

    std::vector<Entry> entries_;
    std::vector<std::uint8_t> block_;
};

std::uint16_t indexOf(const CanFrame& f) {
    return static_cast<std::uint16_t>(f.data[1] | f.data[2] << 8);
}

std::uint32_t le32(const CanFrame& f) {
    return static_cast<std::uint32_t>(f.data[4]) | static_cast<std::uint32_t>(f.data[5]) << 8 |
           static_cast<std::uint32_t>(f.data[6]) << 16 |
           static_cast<std::uint32_t>(f.data[7]) << 24;
}

// What the client side has done that the server acknowledged: the download under way (its
// entry, announced size and acknowledged bytes) and the upload under way (the value read,
// and the bytes sent of it).
struct Model {
    struct Download {
        std::uint16_t index;
        std::uint8_t subIndex;
        std::optional<std::size_t> announced;
        std::vector<std::uint8_t> acknowledged;
    };
    struct Upload {
        std::vector<std::uint8_t> value;
        std::size_t announced;
        std::vector<std::uint8_t> sent;
        bool toggle = false;
    };
    struct BlockDownload {
        std::uint16_t index;
        std::uint8_t subIndex;
        std::optional<std::size_t> announced;
        bool crc;
        std::vector<std::uint8_t> acknowledged; // seven bytes a segment
        std::vector<CanFrame> sinceAck;         // the segments received since
        std::optional<CanFrame> lastTaken;      // the last segment, when acknowledged
        CanFrame initiate;
    };
    struct BlockUpload {
        std::vector<std::uint8_t> value;
        bool crc;
        std::size_t blockSize;
        std::size_t segments;
        std::size_t acknowledged = 0;
        std::size_t inFlight = 0;
        bool started = false;
        bool ended = false;
    };
    std::optional<Download> download;
    std::optional<Upload> upload;
    std::optional<BlockDownload> blockDownload;
    std::optional<BlockUpload> blockUpload;
};

class Harness {
public:
    explicit Harness(FuzzInput& in)
        : in_(in), node_(static_cast<std::uint8_t>(1 + in.Byte() % 127)),
          server_(node_, dictionary_) {
        const std::uint8_t setup = in.Byte();
        server_.SetSizeIndicated(!(setup & 0x01));
        server_.SetBlockTransfer(!(setup & 0x02));
        const std::uint8_t blockSize = setup >> 2;
        server_.SetBlockSize(blockSize ? blockSize : MaxBlockSize);
    }

    void Run() {
        while (!in_.Empty()) {
            const std::uint8_t op = in_.Byte();
            switch (op & 3) {
            case 0:
                frame(requestWith(in_.Bytes(8)));
                break;
            case 1:
                frame(AnyFrame(in_));
                break;
            case 2: {
                now_ += std::chrono::milliseconds(in_.Byte() * 8);
                const TimePoint deadline = deadline_;
                const bool busy = server_.Busy();
                const Output out = server_.OnTime(now_);
                if (now_ < deadline)
                    FUZZ_CHECK(out.frames.empty() && server_.Busy() == busy,
                               "nothing times out before its deadline");
                afterStep(out, nullptr);
                break;
            }
            case 3: {
                const auto specifier = static_cast<std::uint8_t>((op >> 2) & 7);
                const auto index = static_cast<std::uint16_t>(0x2000 + ((op >> 5) % 6));
                const std::uint8_t flags = in_.Byte() & 0x1F;
                std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(specifier << 5 | flags),
                                                static_cast<std::uint8_t>(index),
                                                static_cast<std::uint8_t>(index >> 8), 0};
                const auto data = in_.Bytes(4);
                bytes.insert(bytes.end(), data.begin(), data.end());
                frame(requestWith(bytes));
                break;
            }
            }
        }
    }

private:
    CanFrame requestWith(const std::vector<std::uint8_t>& bytes) {
        CanFrame f = CanFrame::Data(SdoRxCobId(node_), {0, 0, 0, 0, 0, 0, 0, 0});
        std::copy(bytes.begin(), bytes.end(), f.data.begin());
        return f;
    }

    void frame(const CanFrame& f) {
        dictionary_.writes.clear();
        dictionary_.lastRead.reset();
        const Output out = server_.OnFrame(f, now_);
        const bool request = f.id == SdoRxCobId(node_) && !f.remote && f.length == 8;
        if (!request)
            FUZZ_CHECK(out.frames.empty() && dictionary_.writes.empty(),
                       "frames that are no requests to the server change nothing");
        checkWrites(f, request);
        afterStep(out, request ? &f : nullptr);
    }

    // Every Write of this step: only what a client completed.
    void checkWrites(const CanFrame& f, bool request) {
        FUZZ_CHECK(dictionary_.writes.size() <= 1, "one request writes at most once");
        if (dictionary_.writes.empty())
            return;
        FUZZ_CHECK(request, "only a request writes");
        const auto& write = dictionary_.writes.front();
        FUZZ_CHECK(write.data.size() <= SdoServer::MaxDownloadSize,
                   "no write is longer than MaxDownloadSize");
        const std::uint8_t command = f.data[0];
        if (model_.blockDownload) {
            const auto& b = *model_.blockDownload;
            FUZZ_CHECK(b.lastTaken.has_value(), "no write among a block download's segments");
            if (IsBlockEnd(command)) {
                checkBlockWrite(write, f);
                return;
            }
        }
        if (command >> 5 == 1) {
            FUZZ_CHECK((command & 0x02) != 0, "a segmented initiate writes nothing yet");
            const std::size_t n = (command & 0x01) ? 4 - ((command >> 2) & 3) : 4;
            FUZZ_CHECK(write.index == indexOf(f) && write.subIndex == f.data[3] &&
                           write.data == std::vector<std::uint8_t>(f.data.begin() + 4,
                                                                   f.data.begin() + 4 + n),
                       "an expedited download writes its own bytes to its own entry");
            return;
        }
        FUZZ_CHECK(command >> 5 == 0 && (command & 0x01),
                   "only an expedited initiate or a last segment writes");
        FUZZ_CHECK(model_.download.has_value(), "a last segment writes only in a download");
        const auto& d = *model_.download;
        std::vector<std::uint8_t> expected = d.acknowledged;
        const std::size_t n = 7 - ((command >> 1) & 7);
        expected.insert(expected.end(), f.data.begin() + 1, f.data.begin() + 1 + n);
        FUZZ_CHECK(write.index == d.index && write.subIndex == d.subIndex,
                   "a download writes to the entry its initiate named");
        FUZZ_CHECK(write.data == expected,
                   "a download writes the bytes of its acknowledged segments and its last one");
        FUZZ_CHECK(!d.announced || *d.announced == write.data.size(),
                   "a download writes the size its client announced");
    }

    void checkBlockWrite(const GuardedDictionary::Written& write, const CanFrame& end) {
        const auto& b = *model_.blockDownload;
        std::vector<std::uint8_t> expected = b.acknowledged;
        expected.resize(expected.size() -
                        std::min<std::size_t>(expected.size(), BlockEndUnused(end.data[0])));
        FUZZ_CHECK(write.index == b.index && write.subIndex == b.subIndex,
                   "a block download writes to the entry its initiate named");
        FUZZ_CHECK(write.data == expected,
                   "a block download writes the bytes of its acknowledged segments");
        FUZZ_CHECK(!b.announced || *b.announced == write.data.size(),
                   "a block download writes the size its client announced");
        FUZZ_CHECK(!b.crc || Crc16Ccitt(write.data) == BlockEndCrc(end),
                   "a block download writes only a value with the CRC its client sent");
    }

    // A request that the server took as a block download's segment.
    void afterBlockSegment(const Output& out, const CanFrame& request) {
        auto& b = *model_.blockDownload;
        if (request.data[0] == 0x80) {
            FUZZ_CHECK(out.frames.empty() && !server_.Busy(), "a client's abort ends the transfer");
            model_ = {};
            return;
        }
        FUZZ_CHECK(out.frames.size() <= 1, "a segment brings one frame at most");
        if (out.frames.empty()) {
            FUZZ_CHECK(server_.Busy(), "a segment taken or dropped leaves the download running");
            b.sinceAck.push_back(request);
            return;
        }
        const CanFrame& answer = out.frames.front();
        if (answer.data[0] == 0x80) {
            FUZZ_CHECK(!server_.Busy(), "an abort ends the transfer");
            model_ = {};
            return;
        }
        b.sinceAck.push_back(request);
        FUZZ_CHECK(IsBlockAck(answer.data[0]), "a sub-block's end is acknowledged");
        const std::uint8_t ackseq = answer.data[1];
        // The segments numbered 1, 2, ... in the order received.
        std::vector<const CanFrame*> taken;
        for (const CanFrame& f : b.sinceAck)
            if ((f.data[0] & 0x7F) == taken.size() + 1 &&
                (taken.empty() || !(taken.back()->data[0] & 0x80)))
                taken.push_back(&f);
        FUZZ_CHECK(taken.size() == ackseq,
                   "an acknowledgement counts the segments received in sequence");
        for (const CanFrame* f : taken)
            b.acknowledged.insert(b.acknowledged.end(), f->data.begin() + 1, f->data.end());
        b.sinceAck.clear();
        if (!taken.empty() && (taken.back()->data[0] & 0x80))
            b.lastTaken = *taken.back();
        FUZZ_CHECK(server_.Busy(), "a block download waits for its end");
    }

    // The go-ahead or an acknowledgement of a block upload, which the server took.
    void afterBlockUploadRequest(const Output& out, const CanFrame& request) {
        auto& u = *model_.blockUpload;
        if (out.frames.empty())
            return; // one again
        if (IsBlockUploadStart(request.data[0])) {
            FUZZ_CHECK(!u.started, "a block upload starts once");
            u.started = true;
        } else {
            FUZZ_CHECK(u.started && !u.ended, "acknowledgements come between start and end");
            const std::uint8_t ackseq = request.data[1];
            FUZZ_CHECK(ackseq <= u.inFlight && ValidBlockSize(request.data[2]),
                       "the server goes on only after a valid acknowledgement");
            u.acknowledged += ackseq;
            u.blockSize = request.data[2];
        }
        const std::size_t size = u.value.size();
        if (u.acknowledged == u.segments) {
            FUZZ_CHECK(out.frames.size() == 1, "the end is one frame");
            const CanFrame& end = out.frames.front();
            FUZZ_CHECK(IsBlockEnd(end.data[0]) &&
                           BlockEndUnused(end.data[0]) == u.segments * 7 - size &&
                           BlockEndCrc(end) == (u.crc ? Crc16Ccitt(u.value) : 0),
                       "a block upload ends with its unused bytes and its value's CRC");
            u.ended = true;
            return;
        }
        const std::size_t count = std::min(u.blockSize, u.segments - u.acknowledged);
        FUZZ_CHECK(out.frames.size() == count, "a sub-block holds as many segments as it may");
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t segment = u.acknowledged + i;
            const bool last = segment + 1 == u.segments;
            std::array<std::uint8_t, 7> bytes{};
            for (std::size_t k = 0; k < 7 && segment * 7 + k < size; ++k)
                bytes[k] = u.value[segment * 7 + k];
            const CanFrame& f = out.frames[i];
            FUZZ_CHECK(f.data[0] == ((last ? 0x80 : 0) | (i + 1)) &&
                           std::equal(bytes.begin(), bytes.end(), f.data.begin() + 1),
                       "a sub-block carries the value from the first segment not acknowledged");
        }
        u.inFlight = count;
    }

    // The frames the server sent, against the model of what its clients did.
    void afterStep(const Output& out, const CanFrame* request) {
        dictionary_.CheckGuards();
        for (const CanFrame& f : out.frames)
            FUZZ_CHECK(f.id == SdoTxCobId(node_) && !f.remote && f.length == 8,
                       "the server answers with 8-byte frames on 0x580+n only");
        if (server_.Busy())
            FUZZ_CHECK(out.deadline != NoDeadline && out.deadline > now_,
                       "a transfer in progress has a deadline ahead");
        deadline_ = out.deadline;
        if (request && model_.blockDownload && request->data[0] != 0x80 &&
            *request == model_.blockDownload->initiate) {
            FUZZ_CHECK(out.frames.empty() && server_.Busy(), "a repeated initiate is ignored");
            return;
        }
        if (request && model_.blockDownload && !model_.blockDownload->lastTaken) {
            afterBlockSegment(out, *request);
            return;
        }
        if (request && model_.blockDownload && *request == *model_.blockDownload->lastTaken) {
            FUZZ_CHECK(out.frames.empty() && server_.Busy(), "a repeated last segment is ignored");
            return;
        }
        if (request && model_.blockUpload && server_.Busy() &&
            (IsBlockUploadStart(request->data[0]) || IsBlockAck(request->data[0]))) {
            afterBlockUploadRequest(out, *request);
            return;
        }
        FUZZ_CHECK(out.frames.size() <= 1, "one step sends at most one frame");
        if (request && model_.blockUpload && IsBlockEndAnswer(request->data[0]) &&
            out.frames.empty()) {
            FUZZ_CHECK(model_.blockUpload->ended && !server_.Busy(),
                       "a block upload's end answer ends it");
            model_ = {};
            return;
        }
        if (out.frames.empty()) {
            if (request && request->data[0] >> 5 == 4) { // the client aborted
                FUZZ_CHECK(!server_.Busy(), "a client's abort ends the transfer");
                model_ = {};
            }
            return;
        }
        const CanFrame& answer = out.frames.front();
        const std::uint8_t command = answer.data[0];
        switch (command >> 5) {
        case 4:
            FUZZ_CHECK(!server_.Busy(), "an abort ends the transfer");
            model_ = {};
            return;
        case 3: { // initiate download answer
            FUZZ_CHECK(request && request->data[0] >> 5 == 1,
                       "only an initiate download request is answered with 0x60");
            FUZZ_CHECK(indexOf(answer) == indexOf(*request) && answer.data[3] == request->data[3],
                       "an initiate answer names the request's entry");
            model_ = {};
            if (!(request->data[0] & 0x02)) {
                Model::Download d{indexOf(*request), request->data[3], std::nullopt, {}};
                if (request->data[0] & 0x01)
                    d.announced = le32(*request);
                model_.download = d;
            }
            return;
        }
        case 1: { // download segment acknowledged
            FUZZ_CHECK(request && request->data[0] >> 5 == 0 && model_.download,
                       "only a download's segment is acknowledged");
            FUZZ_CHECK((command & 0x10) == (request->data[0] & 0x10),
                       "an acknowledgement carries the segment's toggle");
            if (request->data[0] & 0x01) {
                model_ = {}; // the last one: written
            } else {
                const std::size_t n = 7 - ((request->data[0] >> 1) & 7);
                auto& got = model_.download->acknowledged;
                got.insert(got.end(), request->data.begin() + 1, request->data.begin() + 1 + n);
            }
            return;
        }
        case 2: { // initiate upload answer
            FUZZ_CHECK(request && request->data[0] >> 5 == 2 && dictionary_.lastRead,
                       "only an initiate upload request is answered with 0x4x, after a read");
            FUZZ_CHECK(indexOf(answer) == indexOf(*request) && answer.data[3] == request->data[3],
                       "an initiate answer names the request's entry");
            model_ = {};
            const auto& value = *dictionary_.lastRead;
            if (command & 0x02) {
                const std::size_t n = (command & 0x01) ? 4 - ((command >> 2) & 3) : 4;
                FUZZ_CHECK(value.size() >= 1 && value.size() <= 4,
                           "only a value of 1 to 4 bytes goes expedited");
                std::vector<std::uint8_t> expected = value;
                expected.resize(4, 0);
                expected.resize(n);
                FUZZ_CHECK(std::equal(expected.begin(), expected.end(), answer.data.begin() + 4),
                           "an expedited upload sends the entry's value");
            } else {
                FUZZ_CHECK((command & 0x01) && le32(answer) == value.size(),
                           "a segmented upload states the value's size");
                model_.upload = Model::Upload{value, value.size(), {}};
            }
            return;
        }
        case 0: { // upload segment
            FUZZ_CHECK(request && request->data[0] >> 5 == 3 && model_.upload,
                       "only an upload's segment request is answered with a segment");
            auto& u = *model_.upload;
            FUZZ_CHECK(((command & 0x10) != 0) == u.toggle, "upload segments toggle from 0");
            u.toggle = !u.toggle;
            const std::size_t n = 7 - ((command >> 1) & 7);
            u.sent.insert(u.sent.end(), answer.data.begin() + 1, answer.data.begin() + 1 + n);
            FUZZ_CHECK(u.sent.size() <= u.value.size() &&
                           std::equal(u.sent.begin(), u.sent.end(), u.value.begin()),
                       "upload segments carry the entry's value, in order");
            if (command & 0x01) {
                FUZZ_CHECK(u.sent.size() == u.announced, "an upload sends the size it stated");
                FUZZ_CHECK(!server_.Busy(), "an upload ends with its last segment");
                model_ = {};
            }
            return;
        }
        case 5: { // a block download's initiate answer, acknowledgement or end answer
            if (IsBlockInitiateWithBlockSize(command)) {
                FUZZ_CHECK(request && IsBlockInitiateWithSize(request->data[0]),
                           "only a block download initiate is answered with 0xA0");
                FUZZ_CHECK(indexOf(answer) == indexOf(*request) &&
                               answer.data[3] == request->data[3],
                           "an initiate answer names the request's entry");
                FUZZ_CHECK(ValidBlockSize(answer.data[4]), "the block size is 1 to 127");
                model_ = {};
                Model::BlockDownload b{indexOf(*request),
                                       request->data[3],
                                       std::nullopt,
                                       BlockCrcFlag(request->data[0]),
                                       {},
                                       {},
                                       std::nullopt,
                                       *request};
                if (request->data[0] & 0x02)
                    b.announced = le32(*request);
                model_.blockDownload = b;
                return;
            }
            FUZZ_CHECK(IsBlockEndAnswer(command) && request && IsBlockEnd(request->data[0]) &&
                           model_.blockDownload && model_.blockDownload->lastTaken,
                       "only a block download's end after its last segment is answered 0xA1");
            FUZZ_CHECK(!server_.Busy(), "a block download ends with its end answer");
            model_ = {};
            return;
        }
        case 6: { // a block upload's initiate answer
            FUZZ_CHECK(IsBlockInitiateWithSize(command) && request &&
                           IsBlockInitiateWithBlockSize(request->data[0]) && dictionary_.lastRead,
                       "only a block upload initiate is answered with 0xC0, after a read");
            FUZZ_CHECK(indexOf(answer) == indexOf(*request) && answer.data[3] == request->data[3],
                       "an initiate answer names the request's entry");
            const auto& value = *dictionary_.lastRead;
            FUZZ_CHECK((command & 0x02) && le32(answer) == value.size(),
                       "a block upload states the value's size");
            model_ = {};
            model_.blockUpload =
                Model::BlockUpload{value, BlockCrcFlag(request->data[0]), request->data[4],
                                   std::max<std::size_t>(1, (value.size() + 6) / 7)};
            return;
        }
        default:
            FUZZ_CHECK(false, "the server sends no other command");
        }
    }

    FuzzInput& in_;
    const std::uint8_t node_;
    GuardedDictionary dictionary_;
    SdoServer server_;
    TimePoint now_{std::chrono::seconds(1000)};
    TimePoint deadline_ = NoDeadline;
    Model model_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunHarness<Harness>(data, size);
}
