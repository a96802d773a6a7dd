#ifndef TEST_UNZIP_H_
#define TEST_UNZIP_H_

#include <string>
#include <vector>

#include "test/process.h"

namespace test {

// Archives are checked with Info-ZIP's unzip, a reader independent of the
// writer under test.

// Runs unzip with the arguments, for example {"-t", archive}, and collects
// its standard output and standard error. Status 0 means no error or
// warning.
ProcessResult Unzip(const std::vector<std::string>& arguments);

// The entry names in the archive's order (unzip -Z1); a failure of unzip
// fails the current test.
std::vector<std::string> ZipEntryNames(const std::string& archive);

// The content of every entry called name, one after the other (unzip -p);
// a failure of unzip, such as no entry of that name, fails the current test.
// unzip reads name as a wildcard pattern: '*', '?' and '[' match others.
std::string ZipEntryContent(const std::string& archive,
                            const std::string& name);

}  // namespace test

#endif  // TEST_UNZIP_H_
