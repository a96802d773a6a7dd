#ifndef CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_PACKING_H_
#define CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_PACKING_H_

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/utils/file_path.h"
#include "base/utils/held_file.h"
#include "base/utils/minizip/zip_wrapper.h"

namespace tlv {

// The names MakeZipPath and MakeCutLogPaths give, for the removal of the
// archives and cut copies that killed runs left behind.
inline constexpr wchar_t kTemporaryNamePattern[] =
    L"^[0-9]+-crash\\.(zip|[0-9]+\\.cut)$";

// One of the host's logs packed with a dump.
struct PackedLog {
  // The host's file, which is only ever read.
  base::utils::Path path;
  // Where the copy of its tail goes when the log is too large to be packed
  // whole: a name of the archive's (MakeCutLogPaths), never one of the host's
  // or of the work directory's own files, such as the ledger. The archive's
  // entry keeps the log's name.
  base::utils::Path cut_path;
  // Holds cut_path for this report; null where that path is not this
  // report's to write, and then no copy is made.
  std::unique_ptr<base::utils::HeldFile> held_cut;
};

// The archive of one dump and its logs, and the cut copies of the logs that
// are too large to be packed whole. These temporary files live in the work
// directory, held so that no other run sharing the directory removes them,
// and go with the package however the report ends: the cut copies in their
// order, then the archive, as they were made. The package does the work on
// disk; the job logs and raises the events of it.
class DumpPackage final {
 public:
  // Names the archive (MakeZipPath) and the logs' cut copies
  // (MakeCutLogPaths); nothing is written yet.
  DumpPackage(const base::utils::Path& dump,
              const std::vector<base::utils::Path>& logs);
  DumpPackage(const DumpPackage&) = delete;
  DumpPackage& operator=(const DumpPackage&) = delete;
  ~DumpPackage();

  const base::utils::Path& archive() const { return archive_; }

  // Whether the archive and the cut copies may be written and removed
  // without touching a file that is not the process's own: false when the
  // work directory is the dump's own directory (compared as directories, so
  // links count), whose files are the host's.
  bool PathsAreSafe() const;

  // Creates and holds the cut copies, then the archive, each only where no
  // other live run holds its name; a leftover of a run that was killed is
  // removed first. False when the archive is not this report's to write.
  // Only for paths that are safe.
  bool Hold();

  // Writes the held archive: the dump, then each log, one over 10 MiB by a
  // copy of its last 10 MiB where its copy is held. A log whose copy cannot
  // be made goes in whole, after cut_failed is called with it. What became
  // of the dump; none when the archive could not be made.
  std::optional<base::utils::ZipWrapper::Packed> Write(
      const std::function<void(const base::utils::Path& log)>& cut_failed);

 private:
  const base::utils::Path dump_;
  const base::utils::Path archive_;
  // Declared before logs_, so that it is removed after the cut copies.
  std::unique_ptr<base::utils::HeldFile> held_archive_;
  std::vector<PackedLog> logs_;
};

}  // namespace tlv

#endif  // CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_PACKING_H_
