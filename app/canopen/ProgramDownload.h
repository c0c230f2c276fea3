#pragma once

#include "ProgramImage.h"
#include "Qvx_copn_interface.h"

#include <cstdint>
#include <functional>
#include <string>

// How a program download judges the node's software identification.
struct ProgramDownloadOptions {
    // Anything but the file's CRC-32 in 0x1F56 fails the download, the program stopped.
    bool expectCrc = false;
};

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
        // A manufacturer object some nodes have (the simulated 302-3 node among them): the
        // room of program p in bytes at sub-index p, UNSIGNED32.
        ProgramRoom = 0x2F50,
    };
    enum ControlValue : std::uint8_t { Stop = 0, Start = 1, Restart = 2, Clear = 3 };
    // 0x1F57: bit 0 set while the node is still flashing; bits 1 to 7 its error code.
    static constexpr std::uint32_t FlashBusy = 0x1;
    static constexpr std::uint8_t NoValidProgram = 1;
    // How often and how long the flash status is asked while the node is busy.
    static constexpr DWORD FlashPollPause = 100;     // ms
    static constexpr unsigned FlashPollLimit = 1200; // polls: two minutes
    static constexpr std::uint32_t CancelAbortCode = 0x08000000;
    // How often the program is written, from the clear, when its write goes unanswered.
    static constexpr int WriteAttempts = 3;
    // How long a program just started is given to report itself started: polls of 0x1F51.
    static constexpr unsigned StartPollLimit = 100; // ten seconds

    struct Program {
        std::uint8_t control = 0;         // 0x1F51:p: 0 stopped, 1 started
        std::uint32_t flashStatus = 0;    // 0x1F57:p
        std::uint32_t identification = 0; // 0x1F56:p

        // The program holds a file of this CRC-32: its identification, no flash error, not
        // busy flashing.
        bool Holds(std::uint32_t crc) const;
        // ... and it runs: started.
        bool Runs(std::uint32_t crc) const { return Holds(crc) && control == Start; }
    };

    using Options = ProgramDownloadOptions;

    enum class Result { Done, Cancelled, Failed };
    struct Outcome {
        Result result = Result::Failed;
        std::string message; // for the user; says what failed and why
        bool wentAsBlock = false;
        std::uint32_t bytes = 0;
        // Done: whether 0x1F56 equals the file's CRC-32, and what it reported.
        bool verified = false;
        std::uint32_t identification = 0;
        // How often the program was written (from the clear).
        int attempts = 0;
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

    // The room of program p, when the node tells it (ProgramRoom); false when it does not.
    bool ReadRoom(std::uint8_t program, std::uint32_t* room);

    // Checks that the image fits the room the node tells (before anything is sent), stops
    // program p, clears it, writes the image (block transfer, segmented where the node
    // refuses it; from the clear again when the write goes unanswered), waits for the node to
    // finish flashing, checks its flash status, compares its software identification with
    // the image's CRC (a failure only with expectCrc), starts it and waits for the node to
    // report it started. A cancelled or failed download leaves the program stopped, never
    // started.
    Outcome Download(std::uint8_t program, const ProgramImage& image, const Progress& progress,
                     const Options& options = {});
    // Starts a program that holds the file already and waits for the node to report it
    // started.
    bool StartHeld(std::uint8_t program);

    // What the last failed call found.
    const std::string& LastMessage() const { return lastMessage_; }

private:
    std::uint32_t handle() const { return binding_.driverHandle; }
    bool failed(const std::string& what);
    // An abort code in words; our own time-out with the time waited.
    std::string abortText(std::uint32_t code) const;
    // A single transfer, made once more when the node left it unanswered.
    bool again(const std::function<std::int32_t()>& transfer);
    // Polls 0x1F51:p until the node reports the program started.
    bool waitForStart(std::uint8_t program);
    // Polls 0x1F57:p until the node is no longer busy; false when it stays busy or cannot be
    // read. *status: the last value read.
    bool waitForFlash(std::uint8_t program, std::uint32_t* status);

    TQVX_COPN_Interface& binding_;
    const std::uint8_t node_;
    std::string lastMessage_;
};

// A flash status's error code (0x1F57 bits 1 to 7); 0: no error.
std::uint8_t FlashErrorCode(std::uint32_t status);
// The name of a flash status's error code (0x1F57 bits 1 to 7), as CiA 302-3 names them.
std::string FlashStatusName(std::uint32_t status);
// The text of a 0x1F51 value.
std::string ProgramControlName(std::uint8_t control);
// An SDO abort code as the user reads it: its number and, for the usual ones, its meaning.
std::string SdoAbortText(std::uint32_t code);
// The question before a program that holds the file, stopped, is started.
std::string ProgramStartHeldText(std::uint8_t program, std::uint32_t crc);
// What a download that the node's identification does not confirm says of it.
std::string NotVerifiedText(std::uint32_t identification, std::uint32_t crc);

// The questions before a program download, as the window and zandrel-flash ask them: the
// program holds the file already; the download stops and erases the program.
std::string ProgramAlreadyHeldText(std::uint8_t program, std::uint32_t crc);
std::string ProgramStopText(std::uint8_t node, std::uint8_t program, std::size_t bytes);
