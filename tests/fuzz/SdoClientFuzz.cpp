// The CANopen SDO client against a real SDO server over a link that the input disturbs.
//
// Promise checked: the client never reports success for a transfer that the server's frames
// did not complete. An upload that ends Done holds the entry's value as the server read it
// (cut to the capacity asked for) with the value's full size; a download that ends Done left
// exactly its bytes in the entry; a block download ends Done only after the server answered
// its end, and a block transfer the server does not serve never ends Done as one. Frames from
// outside the server (stray frames the input makes up) mark the transfer as unverifiable: then only
// the shape of the result is checked (no more bytes than the capacity, the size the data came
// from). Always: the client sends only 8-byte frames on 0x600+n, a running transfer has a deadline
// ahead of it, a failure of the client's own sends its abort code to the server, and OnTime before
// the deadline ends nothing.
//
// Input: a header, then operations until the input ends.
//   header  node (1 + byte % 127), client time-out (10 + byte * 4 ms), the server's byte
//           (bit 0: no size in expedited answers, bit 1: no block transfers, bits 2-7: its
//           block size, 0 for 127), then four entries 0x2000:0 to 0x2003:0, each a length byte
//           L (the value's length: L below 128, else (L - 128) × 6) and a seed byte (the value:
//           seed + 7 × i)
//   op      one byte, the operation in its low four bits:
//     0 upload: entry (byte % 6: 4 and 5 are entries that do not exist), capacity byte
//     1 download: entry byte, length byte, then that many data bytes
//     2 deliver the next frame to the server        3 deliver the next frame to the client
//     4 lose the next frame to the server           5 lose the next frame to the client
//     6 deliver the next frame to the client twice  7 deliver the next frame to the server twice
//     8 time passes: byte × 8 ms                    9 the client aborts (code: 4 bytes)
//     10 a stray frame to the client: id choice byte (bit 0: the server's, else another),
//        length byte (% 10: 9 is a remote request), 8 data bytes
//     11 block upload: entry byte, capacity byte, block size byte (1 + byte % 127)
//     12 block download: entry byte, length (two bytes, at most 1200), then the data bytes
//     others: the link delivers everything queued both ways
// When the input ends, the queued frames are delivered and time passes until the client is
// idle again.

#include "FuzzCheck.h"
#include "FuzzFrames.h"
#include "FuzzInput.h"
#include "canopen/SdoBlockFrames.h"
#include "canopen/SdoClient.h"
#include "canopen/SdoServer.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>

using namespace bus;
using namespace bus::canopen;

namespace {

constexpr std::uint16_t FirstIndex = 0x2000;
constexpr int Entries = 4;

// Four entries of any length, read and written whole; writes of any length are taken.
class Dictionary : public ObjectDictionary {
public:
    std::map<std::uint16_t, std::vector<std::uint8_t>> values;

    SdoReadResult Read(std::uint16_t index, std::uint8_t subIndex) override {
        auto it = values.find(index);
        if (it == values.end())
            return {SdoAbort::NoObject, {}};
        if (subIndex != 0)
            return {SdoAbort::NoSubIndex, {}};
        return {0, it->second};
    }
    std::uint32_t Write(std::uint16_t index, std::uint8_t subIndex,
                        const std::vector<std::uint8_t>& data) override {
        auto it = values.find(index);
        if (it == values.end())
            return SdoAbort::NoObject;
        if (subIndex != 0)
            return SdoAbort::NoSubIndex;
        it->second = data;
        return 0;
    }
};

struct Transfer {
    bool upload = false;
    std::uint16_t index = 0;
    std::size_t capacity = 0;
    std::vector<std::uint8_t> value; // upload: the entry's value; download: the bytes written
    bool verifiable = true;
    bool serverAnsweredEnd = false; // block download
};

class Harness {
public:
    Harness(FuzzInput& in)
        : in_(in), node_(static_cast<std::uint8_t>(1 + in.Byte() % 127)),
          client_(node_, std::chrono::milliseconds(10 + in.Byte() * 4)),
          server_(node_, dictionary_) {
        const std::uint8_t serverByte = in.Byte();
        server_.SetSizeIndicated(!(serverByte & 0x01));
        blockServed_ = !(serverByte & 0x02);
        server_.SetBlockTransfer(blockServed_);
        const std::uint8_t blockSize = serverByte >> 2;
        server_.SetBlockSize(blockSize ? blockSize : MaxBlockSize);
        for (int e = 0; e < Entries; ++e) {
            const std::uint8_t b = in.Byte();
            const std::size_t length = b < 128 ? b : (b - 128u) * 6;
            const std::uint8_t seed = in.Byte();
            std::vector<std::uint8_t> value(length);
            for (std::size_t i = 0; i < length; ++i)
                value[i] = static_cast<std::uint8_t>(seed + i * 7);
            dictionary_.values[static_cast<std::uint16_t>(FirstIndex + e)] = value;
        }
    }

    void Run() {
        while (!in_.Empty())
            step(in_.Byte());
        for (int round = 0;
             round < 64 && (client_.Busy() || !toServer_.empty() || !toClient_.empty()); ++round) {
            while (!toServer_.empty() || !toClient_.empty()) {
                deliverToServer();
                deliverToClient();
            }
            if (client_.Busy())
                advance(std::chrono::milliseconds(100));
        }
        FUZZ_CHECK(!client_.Busy(), "a transfer ends once its deadline has passed");
    }

private:
    void step(std::uint8_t op) {
        switch (op & 0x0F) {
        case 0:
            startUpload(false);
            break;
        case 1:
            startDownload(false);
            break;
        case 2:
            deliverToServer();
            break;
        case 3:
            deliverToClient();
            break;
        case 4:
            LoseFirst(toServer_);
            break;
        case 5:
            LoseFirst(toClient_);
            break;
        case 6:
            DoubleFirst(toClient_);
            deliverToClient();
            break;
        case 7:
            DoubleFirst(toServer_);
            deliverToServer();
            break;
        case 8:
            advance(std::chrono::milliseconds(in_.Byte() * 8));
            break;
        case 9: {
            std::uint32_t code = 0;
            for (int i = 0; i < 4; ++i)
                code |= static_cast<std::uint32_t>(in_.Byte()) << (8 * i);
            const bool wasBusy = client_.Busy();
            const Output out = client_.Abort(code);
            if (wasBusy) {
                FUZZ_CHECK(client_.Result().status == SdoStatus::Failed &&
                               client_.Result().abortCode == code,
                           "an aborted transfer fails with the code given");
                checkSentAbort(out, code);
            } else {
                FUZZ_CHECK(out.frames.empty(), "an idle client aborts nothing");
            }
            clientSends(out);
            break;
        }
        case 10:
            strayFrame();
            break;
        case 11:
            startUpload(true);
            break;
        case 12:
            startDownload(true);
            break;
        default:
            while (!toServer_.empty() || !toClient_.empty()) {
                deliverToServer();
                deliverToClient();
            }
            break;
        }
    }

    void startUpload(bool block) {
        const auto index = static_cast<std::uint16_t>(FirstIndex + in_.Byte() % 6);
        const std::size_t capacity = in_.Byte();
        const auto blockSize = static_cast<std::uint8_t>(1 + (block ? in_.Byte() : 0) % 127);
        const bool wasBusy = client_.Busy();
        auto out = block ? client_.StartBlockUpload(index, 0, capacity, blockSize, now_)
                         : client_.StartUpload(index, 0, capacity, now_);
        FUZZ_CHECK(out.has_value() != wasBusy, "a transfer starts only when none runs");
        if (!out)
            return;
        newTransfer();
        transfer_.upload = true;
        transfer_.index = index;
        transfer_.capacity = capacity;
        auto it = dictionary_.values.find(index);
        if (it != dictionary_.values.end())
            transfer_.value = it->second;
        clientSends(*out);
    }

    void startDownload(bool block) {
        const auto index = static_cast<std::uint16_t>(FirstIndex + in_.Byte() % 6);
        std::vector<std::uint8_t> data = in_.Run(block ? 1200 : 255);
        const bool wasBusy = client_.Busy();
        auto out = block ? client_.StartBlockDownload(index, 0, data, now_)
                         : client_.StartDownload(index, 0, data, now_);
        FUZZ_CHECK(out.has_value() != wasBusy, "a transfer starts only when none runs");
        if (!out)
            return;
        newTransfer();
        transfer_.index = index;
        transfer_.value = std::move(data);
        clientSends(*out);
    }

    // A new transfer: frames still on their way belong to the old one. SDO cannot tell a late
    // frame of an earlier transfer of the same entry from a fresh one, so the link does not
    // carry them over.
    void newTransfer() {
        toServer_.clear();
        toClient_.clear();
        transfer_ = Transfer{};
    }

    void strayFrame() {
        const std::uint8_t choice = in_.Byte();
        const CanFrame frame = FrameWithId(
            in_, (choice & 1) ? SdoTxCobId(node_) : static_cast<std::uint16_t>(choice << 3));
        if (frame.id == SdoTxCobId(node_) && !frame.remote)
            transfer_.verifiable = false;
        toClient(frame);
    }

    void toClient(const CanFrame& frame) {
        const SdoStatus before = client_.Result().status;
        const Output out = client_.OnFrame(frame, now_);
        afterClientStep(before, out, &frame);
    }

    void deliverToServer() {
        if (toServer_.empty())
            return;
        const CanFrame frame = toServer_.front();
        toServer_.pop_front();
        const Output out = server_.OnFrame(frame, now_);
        for (const CanFrame& f : out.frames) {
            if (!transfer_.upload && f.data[0] == 0xA1) // a download's end answer
                transfer_.serverAnsweredEnd = true;
            toClient_.push_back(f);
        }
    }

    void deliverToClient() {
        if (toClient_.empty())
            return;
        const CanFrame frame = toClient_.front();
        toClient_.pop_front();
        toClient(frame);
    }

    void advance(std::chrono::milliseconds by) {
        now_ += by;
        const Output served = server_.OnTime(now_);
        for (const CanFrame& f : served.frames)
            toClient_.push_back(f);
        const SdoStatus before = client_.Result().status;
        const TimePoint deadline = clientDeadline_;
        const Output out = client_.OnTime(now_);
        if (now_ < deadline)
            FUZZ_CHECK(client_.Result().status == before, "nothing times out before its deadline");
        else if (before == SdoStatus::Running)
            FUZZ_CHECK(client_.Result().status == SdoStatus::Failed &&
                           client_.Result().abortCode == SdoAbort::Timeout,
                       "a transfer not answered by its deadline fails with 0x05040000");
        afterClientStep(before, out, nullptr);
    }

    void afterClientStep(SdoStatus before, const Output& out, const CanFrame* received) {
        const SdoResult& result = client_.Result();
        if (before == SdoStatus::Running && result.status == SdoStatus::Failed) {
            if (result.abortedByServer) {
                FUZZ_CHECK(received && received->id == SdoTxCobId(node_) &&
                               received->data[0] >> 5 == 4,
                           "only the server's abort frame makes a transfer aborted by the server");
            } else {
                checkSentAbort(out, result.abortCode);
            }
        }
        if (before == SdoStatus::Running && result.status == SdoStatus::Done)
            checkDone();
        clientSends(out);
    }

    void checkSentAbort(const Output& out, std::uint32_t code) {
        FUZZ_CHECK(!out.frames.empty() &&
                       out.frames.back() ==
                           SdoAbortFrame(SdoRxCobId(node_), transfer_.index, 0, code),
                   "a transfer the client ends sends its abort code to the server");
    }

    void checkDone() {
        const SdoResult& result = client_.Result();
        if (result.blockTransfer && transfer_.verifiable) {
            FUZZ_CHECK(blockServed_,
                       "a block transfer ends Done only with a server that serves it");
            FUZZ_CHECK(transfer_.upload || transfer_.serverAnsweredEnd,
                       "a block download ends Done only after the server answered its end");
        }
        if (transfer_.upload) {
            FUZZ_CHECK(result.data.size() <= transfer_.capacity,
                       "an upload keeps at most the capacity asked for");
            FUZZ_CHECK(result.data.size() == std::min(result.size, transfer_.capacity),
                       "an upload keeps the value's bytes up to the capacity");
            if (!transfer_.verifiable)
                return;
            std::vector<std::uint8_t> expected = transfer_.value;
            if (result.sizeUnstated)
                expected.resize(4, 0); // the unused bytes of an expedited answer are zeros
            FUZZ_CHECK(result.size == expected.size(),
                       "an upload's size is the size of the server's value");
            expected.resize(std::min(expected.size(), transfer_.capacity));
            FUZZ_CHECK(result.data == expected, "an upload holds the server's value");
        } else {
            FUZZ_CHECK(result.size == transfer_.value.size(),
                       "a download reports the bytes written");
            if (!transfer_.verifiable)
                return;
            FUZZ_CHECK(dictionary_.values.count(transfer_.index) &&
                           dictionary_.values[transfer_.index] == transfer_.value,
                       "a download that succeeded left its bytes in the entry");
        }
    }

    void clientSends(const Output& out) {
        for (const CanFrame& f : out.frames) {
            FUZZ_CHECK(f.id == SdoRxCobId(node_) && !f.remote && f.length == 8,
                       "the client sends 8-byte frames on 0x600+n only");
            toServer_.push_back(f);
        }
        if (client_.Busy())
            FUZZ_CHECK(out.deadline != NoDeadline && out.deadline > now_,
                       "a running transfer has a deadline ahead");
        clientDeadline_ = client_.Busy() ? out.deadline : NoDeadline;
    }

    FuzzInput& in_;
    const std::uint8_t node_;
    Dictionary dictionary_;
    SdoClient client_;
    SdoServer server_;
    bool blockServed_ = true;
    TimePoint now_{std::chrono::seconds(1000)};
    TimePoint clientDeadline_ = NoDeadline;
    std::deque<CanFrame> toServer_;
    std::deque<CanFrame> toClient_;
    Transfer transfer_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunHarness<Harness>(data, size);
}
