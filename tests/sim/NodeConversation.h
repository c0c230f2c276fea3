#pragma once

#include "CanFrame.h"
#include "ManualClock.h"
#include "canopen/SdoClient.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace simtest {

// One step of a conversation with a node: a frame in (candump text), or time passing, and
// the frames the node answers with.
struct Step {
    std::string what;
    std::string in;  // "advance 500" lets the node's clock run; "power on" switches it on
    std::string out; // the node's frames, space-separated
};

inline std::string CandumpText(const bus::canopen::Output& output) {
    std::string s;
    for (const bus::CanFrame& frame : output.frames)
        s += (s.empty() ? "" : " ") + bus::ToCandump(frame);
    return s;
}

// Plays the steps to a node (PowerOn, OnFrame, OnTime), each answer compared with the step's.
template <typename Node>
void Converse(Node& node, ManualClock& clock, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what + ": " + step.in);
        std::string said;
        if (step.in.rfind("advance ", 0) == 0) {
            clock.Advance(std::chrono::milliseconds(std::stoi(step.in.substr(8))));
            said = CandumpText(node.OnTime(clock.Now()));
        } else if (step.in == "power on") {
            said = CandumpText(node.PowerOn(clock.Now()));
        } else {
            const auto frame = bus::ParseCandump(step.in);
            ASSERT_TRUE(frame.has_value());
            said = CandumpText(node.OnFrame(*frame, clock.Now()));
        }
        EXPECT_EQ(said, step.out);
    }
}

// An SDO client talking straight to the node, without a bus: every frame of one goes to the
// other until the transfer ends.
template <typename Node> class DirectSdo {
public:
    DirectSdo(Node& node, ManualClock& clock, std::uint8_t nodeId)
        : node_(node), clock_(clock), client_(nodeId) {}

    bus::canopen::SdoResult Upload(std::uint16_t index, std::uint8_t subIndex) {
        return run(client_.StartUpload(index, subIndex, 1 << 20, clock_.Now()));
    }
    bus::canopen::SdoResult Download(std::uint16_t index, std::uint8_t subIndex,
                                     std::vector<std::uint8_t> data) {
        return run(client_.StartDownload(index, subIndex, std::move(data), clock_.Now()));
    }
    // The value of an entry of up to four bytes, low byte first; the abort code's text when
    // it is refused.
    std::string Read(std::uint16_t index, std::uint8_t subIndex) {
        const auto result = Upload(index, subIndex);
        if (result.status != bus::canopen::SdoStatus::Done)
            return "abort " + hex(result.abortCode);
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < result.data.size() && i < 4; ++i)
            v |= static_cast<std::uint32_t>(result.data[i]) << (8 * i);
        return hex(v);
    }
    // "done", or the abort code's text.
    std::string Write(std::uint16_t index, std::uint8_t subIndex, std::vector<std::uint8_t> data) {
        const auto result = Download(index, subIndex, std::move(data));
        return result.status == bus::canopen::SdoStatus::Done ? "done"
                                                              : "abort " + hex(result.abortCode);
    }

    // As Write, in blocks where the node serves them: "done in blocks", "done segmented", or
    // the abort code's text.
    std::string WriteInBlocks(std::uint16_t index, std::uint8_t subIndex,
                              std::vector<std::uint8_t> data) {
        const auto result =
            run(client_.StartBlockDownload(index, subIndex, std::move(data), clock_.Now()));
        if (result.status != bus::canopen::SdoStatus::Done)
            return "abort " + hex(result.abortCode);
        return result.blockTransfer ? "done in blocks" : "done segmented";
    }

private:
    static std::string hex(std::uint32_t v) {
        char s[16];
        std::snprintf(s, sizeof s, "0x%08X", v);
        return s;
    }

    bus::canopen::SdoResult run(std::optional<bus::canopen::Output> started) {
        EXPECT_TRUE(started.has_value());
        std::vector<bus::CanFrame> toNode =
            started ? started->frames : std::vector<bus::CanFrame>{};
        while (!toNode.empty()) {
            std::vector<bus::CanFrame> toClient;
            for (const bus::CanFrame& frame : toNode) {
                const auto answer = node_.OnFrame(frame, clock_.Now());
                toClient.insert(toClient.end(), answer.frames.begin(), answer.frames.end());
            }
            toNode.clear();
            for (const bus::CanFrame& frame : toClient) {
                const auto next = client_.OnFrame(frame, clock_.Now());
                toNode.insert(toNode.end(), next.frames.begin(), next.frames.end());
            }
        }
        return client_.Result();
    }

    Node& node_;
    ManualClock& clock_;
    bus::canopen::SdoClient client_;
};

} // namespace simtest
