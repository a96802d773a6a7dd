#ifndef TEST_UNZIP_H_
#define TEST_UNZIP_H_

#include <string>
#include <vector>

#include "gtest/gtest.h"

#if !defined(_WIN32)
#include "test/process.h"
#endif

namespace test {

// Archives are read back with a reader other than the writer under test:
// Info-ZIP's unzip on Linux; on Windows, where the tests cannot start it,
// minizip's own reader, which holds every entry to its stored size and CRC.

#if !defined(_WIN32)
// Runs unzip with the arguments, for example {"-t", archive}, and collects
// its standard output and standard error. Status 0 means no error or
// warning.
ProcessResult Unzip(const std::vector<std::string>& arguments);
#endif

// The entry names in the archive's order; a failure to read the archive
// fails the current test.
std::vector<std::string> ZipEntryNames(const std::string& archive);

// The content of every entry called name, one after the other; a failure,
// such as no entry of that name, fails the current test. unzip reads name
// as a wildcard pattern ('*', '?' and '[' match others), minizip as it is.
std::string ZipEntryContent(const std::string& archive,
                            const std::string& name);

// Whether every entry reads back whole and matches its CRC.
::testing::AssertionResult ZipIsIntact(const std::string& archive);

// The stored time of the first entry called name, as yyyymmdd.hhmmss (zip
// times are local times of two-second resolution); empty, and the current
// test failed, when there is none.
std::string ZipEntryTime(const std::string& archive, const std::string& name);

}  // namespace test

#endif  // TEST_UNZIP_H_
