#include "test/process_log.h"

#include "base/logging/logging.h"
#include "base/utils/file_path.h"
#include "base/utils/file_util.h"
#include "test/scoped_temp_dir.h"

namespace test {

std::string ProcessLog() {
  // Removed at exit; the file sink opens the file for each line, so a line
  // logged after that is lost, not misplaced.
  static const ScopedTempDir dir;
  static const base::utils::Path log_path = [] {
    base::utils::Path path = base::utils::Path(dir.path()).Join("telvane.log");
    base::logging::LoggerRegistry::Instance().Init(
        base::logging::kTrace, base::logging::kDestinationFile, path);
    return path;
  }();
  return base::utils::ReadFileToString(log_path);
}

}  // namespace test
