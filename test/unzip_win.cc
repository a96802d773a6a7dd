#include "test/unzip.h"

#include <unzip.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace test {

namespace {

struct UnzCloser {
  void operator()(void* archive) const { unzClose(archive); }
};
using ScopedUnzFile = std::unique_ptr<void, UnzCloser>;

// Calls visit with each entry's name and information, the entry being the
// archive's current one, in the archive's order. False, with the reason,
// when the archive cannot be read.
bool ForEachEntry(
    const std::string& archive,
    const std::function<
        void(unzFile, const std::string&, const unz_file_info64&)>& visit,
    std::string& error) {
  const ScopedUnzFile file(unzOpen64(archive.c_str()));
  if (!file) {
    error = "cannot open " + archive + " as an archive";
    return false;
  }
  int status = unzGoToFirstFile(file.get());
  while (status == UNZ_OK) {
    unz_file_info64 info;
    char name[1024];
    if (unzGetCurrentFileInfo64(file.get(), &info, name, sizeof(name), nullptr,
                                0, nullptr, 0) != UNZ_OK) {
      error = "cannot read an entry of " + archive;
      return false;
    }
    visit(file.get(), name, info);
    status = unzGoToNextFile(file.get());
  }
  if (status != UNZ_END_OF_LIST_OF_FILE) {
    error = "cannot go through the entries of " + archive;
    return false;
  }
  return true;
}

// The current entry's content; false when it cannot be read whole or does
// not match its CRC, which unzCloseCurrentFile checks.
bool ReadEntry(unzFile file, std::string& content) {
  if (unzOpenCurrentFile(file) != UNZ_OK) {
    return false;
  }
  char buffer[16384];
  int read;
  while ((read = unzReadCurrentFile(file, buffer, sizeof(buffer))) > 0) {
    content.append(buffer, static_cast<size_t>(read));
  }
  return unzCloseCurrentFile(file) == UNZ_OK && read == 0;
}

}  // namespace

std::vector<std::string> ZipEntryNames(const std::string& archive) {
  std::vector<std::string> names;
  std::string error;
  if (!ForEachEntry(
          archive,
          [&names](unzFile, const std::string& name, const unz_file_info64&) {
            names.push_back(name);
          },
          error)) {
    ADD_FAILURE() << error;
  }
  return names;
}

std::string ZipEntryContent(const std::string& archive,
                            const std::string& name) {
  std::string content;
  bool found = false;
  std::string error;
  if (!ForEachEntry(
          archive,
          [&](unzFile file, const std::string& entry, const unz_file_info64&) {
            if (entry != name) {
              return;
            }
            found = true;
            if (!ReadEntry(file, content)) {
              ADD_FAILURE() << "cannot read " << name << " in " << archive;
            }
          },
          error)) {
    ADD_FAILURE() << error;
  } else if (!found) {
    ADD_FAILURE() << "no entry " << name << " in " << archive;
  }
  return content;
}

::testing::AssertionResult ZipIsIntact(const std::string& archive) {
  std::string problems;
  std::string error;
  if (!ForEachEntry(
          archive,
          [&problems](unzFile file, const std::string& name,
                      const unz_file_info64& info) {
            std::string content;
            if (!ReadEntry(file, content) ||
                content.size() != info.uncompressed_size) {
              problems += " " + name;
            }
          },
          error)) {
    return ::testing::AssertionFailure() << error;
  }
  if (!problems.empty()) {
    return ::testing::AssertionFailure()
           << "entries of " << archive << " that do not read back:" << problems;
  }
  return ::testing::AssertionSuccess();
}

std::string ZipEntryTime(const std::string& archive, const std::string& name) {
  std::string time;
  std::string error;
  if (!ForEachEntry(
          archive,
          [&](unzFile, const std::string& entry, const unz_file_info64& info) {
            if (entry != name || !time.empty()) {
              return;
            }
            // tm_year is the full year here, tm_mon counts from 0.
            const tm_unz& date = info.tmu_date;
            char text[32];
            std::snprintf(text, sizeof(text), "%04d%02d%02d.%02d%02d%02d",
                          date.tm_year, date.tm_mon + 1, date.tm_mday,
                          date.tm_hour, date.tm_min, date.tm_sec);
            time = text;
          },
          error)) {
    ADD_FAILURE() << error;
  } else if (time.empty()) {
    ADD_FAILURE() << "no entry " << name << " in " << archive;
  }
  return time;
}

}  // namespace test
