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
  const std::vector<base::utils::Path> cut_paths =
      MakeCutLogPaths(archive_, logs.size());
  for (size_t i = 0; i < logs.size(); ++i)
    logs_.push_back({logs[i], cut_paths[i], nullptr});
}

DumpPackage::~DumpPackage() = default;

// Every temporary file has a name of the archive's, so only the directory
// can make one of them the host's file.
bool DumpPackage::PathsAreSafe() const {
  const base::utils::Path work_dir =
      ApplicationContext::Instance().GetWorkDir();
  return !work_dir.empty() &&
         !base::utils::IsSameFile(work_dir, dump_.Parent());
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
      zip.AddFile(log.cut_path, log.path.FileNameUtf8());
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

std::vector<base::utils::Path> MakeCutLogPaths(const base::utils::Path& archive,
                                               size_t count) {
  std::string stem = archive.FileNameUtf8();
  stem.erase(stem.rfind(".zip"));
  std::vector<base::utils::Path> cut_paths;
  for (size_t i = 0; i < count; ++i) {
    cut_paths.push_back(
        archive.Parent().Join(stem + "." + std::to_string(i) + ".cut"));
  }
  return cut_paths;
}

}  // namespace tlv
