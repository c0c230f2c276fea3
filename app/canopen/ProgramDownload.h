#pragma once

#include "ProgramImage.h"
#include "Qvx_copn_interface.h"

#include <cstdint>
#include <functional>
#include <string>

// Standard program download (CiA 302-3) into a CANopen node: the program is written as one
// domain to 0x1F50:p, steered with 0x1F51:p, identified by 0x1F56:p and reported by 0x1F57:p.
// Every call goes through the node's binding on the calling thread, and blocks it.
class TProgramDownload {
public:
    enum ObjectIndex : std::uint16_t {
        ProgramData = 0x1F50,
        ProgramControl = 0x1F51,
        ProgramIdentification = 0x1F56,
        FlashStatus = 0x1F57,
        // One of the firmware objects: a node that has it is updated the other way.
        FirmwareSectorCount = 0x360D,
    };
    enum ControlValue : std::uint8_t { Stop = 0, Start = 1, Restart = 2, Clear = 3 };
    // 0x1F57: bit 0 set while the node is still flashing; bits 1 to 7 its error code.
    static constexpr std::uint32_t FlashBusy = 0x1;
    static constexpr std::uint8_t NoValidProgram = 1;
    // How often and how long the flash status is asked while the node is busy.
    static constexpr DWORD FlashPollPause = 100;     // ms
    static constexpr unsigned FlashPollLimit = 1200; // polls: two minutes
    static constexpr std::uint32_t CancelAbortCode = 0x08000000;

    struct Program {
        std::uint8_t control = 0;         // 0x1F51:p: 0 stopped, 1 started
        std::uint32_t flashStatus = 0;    // 0x1F57:p
        std::uint32_t identification = 0; // 0x1F56:p
    };

    enum class Result { Done, Cancelled, Failed };
    struct Outcome {
        Result result = Result::Failed;
        std::string message; // for the user; says what failed and why
        bool wentAsBlock = false;
        std::uint32_t bytes = 0;
    };
    // Called with the bytes written so far and the whole; false stops the download.
    using Progress = std::function<bool(std::uint32_t done, std::uint32_t total)>;

    TProgramDownload(TQVX_COPN_Interface& binding, std::uint8_t node);

    // Whether the node is one for this download: it has 0x1F51 and not the firmware
    // objects.
    bool IsStandardNode();
    // The number of programs (0x1F51:0); false when it cannot be read.
    bool ProgramCount(std::uint8_t* count);
    // Reads the three entries of program p; false when any cannot be read.
    bool ReadProgram(std::uint8_t program, Program* state);
    // Writes the control value to 0x1F51:p; false (with LastMessage) when refused.
    bool Control(std::uint8_t program, ControlValue value);

    // Stops program p, clears it, writes the image (block transfer, segmented where the node
    // refuses it), waits for the node to finish flashing, checks its flash status and its
    // software identification against the image's CRC, and starts it. A cancelled or failed
    // download leaves the program stopped, never started.
    Outcome Download(std::uint8_t program, const ProgramImage& image, const Progress& progress);

    // What the last failed call found.
    const std::string& LastMessage() const { return lastMessage_; }

private:
    std::uint32_t handle() const { return binding_.driverHandle; }
    bool failed(const std::string& what);
    // Polls 0x1F57:p until the node is no longer busy; false when it stays busy or cannot be
    // read. *status: the last value read.
    bool waitForFlash(std::uint8_t program, std::uint32_t* status);

    TQVX_COPN_Interface& binding_;
    const std::uint8_t node_;
    std::string lastMessage_;
};

// The name of a flash status's error code (0x1F57 bits 1 to 7), as CiA 302-3 names them.
std::string FlashStatusName(std::uint32_t status);
// The text of a 0x1F51 value.
std::string ProgramControlName(std::uint8_t control);
// An SDO abort code as the user reads it: its number and, for the usual ones, its meaning.
std::string SdoAbortText(std::uint32_t code);

// The questions before a program download, as the window and zandrel-flash ask them: the
// program holds the file already; the download stops and erases the program.
std::string ProgramAlreadyHeldText(std::uint8_t program, std::uint32_t crc);
std::string ProgramStopText(std::uint8_t node, std::uint8_t program, std::size_t bytes);
