#include "crash_plugin/report_process/crash_report_packing.h"

#include <cstdint>
#include <string>

#include "base/utils/check.h"
#include "base/utils/file_util.h"
#include "crash_plugin/report_process/crash_report.h"
#include "environment/application_context.h"
#include "timer/timer_service.h"

namespace tlv {
namespace {

// A log larger than this is packed as a copy of its last kMaxLogSize bytes,
// which bounds the archive to the dump plus three times this.
constexpr uint64_t kMaxLogSize = 10'485'760;

// Creates and holds one file of the report in the work directory; null for
// a path that is not this report's to write. Two runs may share the work
// directory: a file of the same name that another live run holds stays its
// own, and a leftover of a run that was killed is removed first.
std::unique_ptr<base::utils::HeldFile> HoldTemporaryFile(
    const base::utils::Path& path) {
  base::utils::RemoveUnheldFile(path);
  return base::utils::HeldFile::Create(path);
}

}  // namespace

DumpPackage::DumpPackage(const base::utils::Path& dump,
                         const std::vector<base::utils::Path>& logs)
    : dump_(dump), archive_(MakeZipPath()) {
  const std::vector<base::utils::Path> cut_paths = MakeCutLogPaths(logs);
  for (size_t i = 0; i < logs.size(); ++i)
    logs_.push_back({logs[i], cut_paths[i], nullptr});
}

DumpPackage::~DumpPackage() = default;

// Comparing the files themselves, not their names, also catches links and
// other spellings.
bool DumpPackage::PathsAreSafe() const {
  const base::utils::Path work_dir =
      ApplicationContext::Instance().GetWorkDir();
  if (work_dir.empty() || base::utils::IsSameFile(work_dir, dump_.Parent()))
    return false;
  std::vector<base::utils::Path> protected_files;
  std::vector<base::utils::Path> temporary;
  for (const PackedLog& log : logs_) {
    protected_files.push_back(log.path);
    temporary.push_back(log.cut_path);
  }
  protected_files.push_back(dump_);
  protected_files.push_back(ApplicationContext::Instance().GetLogFile());
  temporary.push_back(archive_);
  for (const base::utils::Path& path : temporary) {
    for (const base::utils::Path& file : protected_files) {
      if (path == file || base::utils::IsSameFile(path, file))
        return false;
    }
  }
  return true;
}

bool DumpPackage::Hold() {
  // Holding removes leftovers at these paths first.
  TLV_DCHECK(PathsAreSafe());
  for (PackedLog& log : logs_)
    log.held_cut = HoldTemporaryFile(log.cut_path);
  held_archive_ = HoldTemporaryFile(archive_);
  return held_archive_ != nullptr;
}

std::optional<base::utils::ZipWrapper::Packed> DumpPackage::Write(
    const std::function<void(const base::utils::Path& log)>& cut_failed) {
  base::utils::ZipWrapper zip(archive_);
  zip.AddFile(dump_);
  for (const PackedLog& log : logs_) {
    const std::optional<base::utils::FileInfo> info =
        base::utils::GetFileInfo(log.path);
    if (!info || info->size <= kMaxLogSize) {
      zip.AddFile(log.path);
    } else if (log.held_cut &&
               base::utils::CopyFileFrom(log.path, log.cut_path,
                                         info->size - kMaxLogSize)) {
      zip.AddFile(log.cut_path);
    } else {
      cut_failed(log.path);
      zip.AddFile(log.path);
    }
  }
  if (!zip.Finish())
    return std::nullopt;
  return zip.packed().front();
}

base::utils::Path MakeZipPath() {
  ApplicationContext& context = ApplicationContext::Instance();
  const int64_t now =
      context.GetTimerService()->CurrentTimes().local.ToMilliseconds();
  return context.GetWorkDir().Join(std::to_string(now) + "-crash.zip");
}

std::vector<base::utils::Path> MakeCutLogPaths(
    const std::vector<base::utils::Path>& logs) {
  const base::utils::Path& work_dir =
      ApplicationContext::Instance().GetWorkDir();
  std::vector<base::utils::Path> cut_paths;
  for (const base::utils::Path& log : logs)
    cut_paths.push_back(work_dir.Join(log.FileName()));
  return cut_paths;
}

}  // namespace tlv
