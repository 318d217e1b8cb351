// The fixture every host test uses: a fresh simulated Windows machine whose
// C: drive is an empty temporary host folder, and readers for the run log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunLogFormat.h"
#include "SimPackage.h"
#include "TempFolder.h"
#include "platform/simulated/SimulatedPlatform.h"

using runlog::kLogClosingLine;  // the run log's last line, as LogFileLines gives it

// The parts one after the other, as one list (expected log lines built from
// pieces).
std::vector<std::string> Join(std::vector<std::vector<std::string>> parts);

// How many of `lines` begin with `prefix`.
size_t CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix);

class SimTest : public ::testing::Test {
protected:
    // Resets the machine onto the fixture's fresh host folder and closes a run
    // log that an earlier test left open.
    void SetUp() override;
    // Closes the run log (the host folder goes with the fixture).
    void TearDown() override;

    TempFolder hostFolder{"mervo-sim"};
    std::string root = hostFolder.path();  // host folder of C:

    // A fresh machine whose C: is a new empty folder of the fixture's, so
    // that no file of an earlier row or run (the log above all) is taken for
    // this one's.
    void FreshMachine();

    void Write(const std::string& windowsPath, const std::string& bytes);
    std::string Read(const std::string& windowsPath);  // "" when absent

    // Runs the stager's entry point on a writable copy of `argumentText` and
    // gives its exit code.
    int RunStager(const std::string& argumentText);

    // The message boxes shown so far, each as "caption: text".
    std::vector<std::string> BoxTexts() const;

    // How many calls of the machine's trace begin with `prefix`.
    size_t TraceCount(const std::string& prefix) const;

    // A time-stamped line of the log: its stamp and the parts of its entry.
    struct LogEntry : runlog::EntryParts {
        std::string stamp;  // the first 26 characters of the line
    };

    // The lines of a log file split on "\r\n"; a '\n' without its '\r' fails the test.
    std::vector<std::string> LogFileLines(const std::string& windowsPath = "C:\\Temp\\MERVOStageLog.txt");

    // The time-stamped lines of the log; banner, closing and empty lines are skipped.
    std::vector<LogEntry> LogEntries(const std::string& windowsPath = "C:\\Temp\\MERVOStageLog.txt");

    // Each entry of LogEntries as one text: module, function and text with
    // `separator` between them.
    std::vector<std::string> LogLines(const std::string& windowsPath, const std::string& separator = " | ");

private:
    int machines_ = 0;
};
