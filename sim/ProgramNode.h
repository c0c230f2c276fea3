#pragma once

#include "Cia301Node.h"
#include "ProgramStore.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// One simulated CANopen node with CiA 302-3 program download, behind CiA 301 (see
// Cia301Node): programs p = 1 to N, each in an area of its own (see ProgramStore), with
//   0x1F50:p program data, a domain, write only: a write replaces the program of a clear area
//   0x1F51:p program control, UNSIGNED8: reads 0 stopped, 1 started; takes 0 stop, 1 start,
//            2 reset (stop and start again), 3 clear (erase the area)
//   0x1F56:p program software identification, UNSIGNED32: the CRC-32 of the program's bytes
//            (or the fixed value the settings give), 0 without a program
//   0x2F50:p the room of program p in bytes, UNSIGNED32, read only (unless the settings say
//            the node has no such object)
//   0x1F57:p flash status identification, UNSIGNED32: bit 0 set while the node is flashing
//            a program just written (its flash time per KiB); bits 1 to 7 the error code
//            (FlashStatusError): that of the last operation on the area when it failed, else
//            0 for a program, 1 (no valid program) without one
// and sub-index 0 of each, N, read only. Refused with 0x08000022 (device state): a write or
// a clear of a running program, a write into an area that is not clear (the status then
// reads "flash not cleared"), a start of an area without a program, a write or start while
// the area is flashing. A write beyond the area's room is refused with 0x06070012 when it
// begins. The node has no firmware loader objects (0x3600 to 0x3611) and no 0x100A. Its SDO
// server serves block transfers, in sub-blocks of the settings' block size, unless the
// settings say it has none.
//
// At its start, and when it is back from a Reset Node, the node starts program 1 when it
// holds a program, and every other program stays stopped; the NMT state is pre-operational
// either way. A fault asked for in its settings is reported for the node's first program
// write after it was switched on: the write is taken, flashed for its time, and the status
// then tells the error; the area holds no program (and is no longer clear, unless the fault
// is found before anything is written: data format unknown, flash secured).
//
// Step functions; not thread-safe.
class ProgramNode : public Cia301Node {
public:
    ProgramNode(CanopenNodeSettings settings, FlashSource flash);

private:
    // What the node knows of a program besides its area.
    struct Program {
        bool running = false;
        TimePoint flashedAt{};                            // busy until then
        FlashStatusError failed = FlashStatusError::None; // the last operation's, if it failed
    };

    bus::canopen::SdoReadResult readApplication(FlashNode& node, std::uint16_t index,
                                                std::uint8_t subIndex) override;
    std::uint32_t writeApplication(FlashNode& node, std::uint16_t index, std::uint8_t subIndex,
                                   const std::vector<std::uint8_t>& data) override;
    std::uint32_t checkApplicationWrite(FlashNode& node, std::uint16_t index, std::uint8_t subIndex,
                                        std::optional<std::size_t> size) override;
    std::uint32_t productCode(FlashNode& node) override;
    NodeResult restart(FlashNode& node) override;
    void started(FlashNode& node) override;

    // Why the entry cannot be written whatever the value: 0 for a program's data or control.
    std::uint32_t refusedEntry(std::uint16_t index, std::uint8_t subIndex) const;
    bool busy(std::uint8_t program) const;
    // What 0x1F56 reports for the program (busy or not).
    std::uint32_t identification(std::uint8_t program) const;
    std::uint32_t flashStatus(std::uint8_t program) const;
    // Whether the program may be written now, its size known or not; 0 or the abort code.
    std::uint32_t checkProgramWrite(std::uint8_t program, std::optional<std::size_t> size);
    std::uint32_t writeProgram(std::uint8_t program, const std::vector<std::uint8_t>& bytes);
    std::uint32_t control(std::uint8_t program, std::uint8_t value);

    std::optional<ProgramStore> store_;
    std::vector<Program> programs_; // program p at p-1
    bool faultPending_ = false;
};

// A CiA 302-3 node as it leaves the factory: a program in program 1, which it starts.
void LeaveProgramFactory(FlashNode& node);

} // namespace sim
