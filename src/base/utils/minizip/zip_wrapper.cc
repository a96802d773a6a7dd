#include "base/utils/minizip/zip_wrapper.h"

#include <xxhash.h>
#include <zip.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "base/logging/logging.h"
#include "base/utils/file.h"
#include "base/utils/file_util.h"
#include "base/utils/time.h"

// zlib keeps its default memory level in the private zutil.h; minizip
// 1.1's zip.h repeats it, but not every release of the header does.
#ifndef DEF_MEM_LEVEL
#define DEF_MEM_LEVEL 8
#endif

namespace base::utils {

namespace {

// One buffer carries every file into its entry.
constexpr size_t kCopyBufferSize = 16384;

// From this size on an entry needs ZIP64 extensions: the classic headers
// hold sizes of at most 0xFFFFFFFF, and that value itself means "see the
// ZIP64 field".
constexpr uint64_t kLargeFileSize = 0xFFFFFFFF;

// minizip's stream for the archive. The archive goes through File rather
// than minizip's stdio layer so that it is opened with shared access and
// 64-bit offsets on every platform.
struct ArchiveStream {
  File file;
  bool write_failed = false;
};

ArchiveStream* AsStream(voidpf stream) {
  return static_cast<ArchiveStream*>(stream);
}

// filename is what ZipWrapper gave zipOpen2_64: a const Path*.
voidpf OpenArchive(voidpf /*opaque*/, const void* filename, int mode) {
  int32_t open_mode;
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
    open_mode = kReadBinary;
  } else if (mode & ZLIB_FILEFUNC_MODE_EXISTING) {
    open_mode = kReadUpdateBinary;
  } else if (mode & ZLIB_FILEFUNC_MODE_CREATE) {
    open_mode = kWriteBinary;
  } else {
    return nullptr;
  }
  // This runs inside C code, which an exception must not cross.
  std::unique_ptr<ArchiveStream> stream(new (std::nothrow) ArchiveStream);
  if (!stream ||
      !stream->file.Open(*static_cast<const Path*>(filename), open_mode)) {
    return nullptr;
  }
  return stream.release();
}

uLong ReadArchive(voidpf /*opaque*/, voidpf stream, void* buffer, uLong size) {
  const int64_t read = AsStream(stream)->file.Read(buffer, size);
  return read > 0 ? static_cast<uLong>(read) : 0;
}

uLong WriteArchive(voidpf /*opaque*/,
                   voidpf stream,
                   const void* buffer,
                   uLong size) {
  ArchiveStream* archive = AsStream(stream);
  if (!archive->file.Write(buffer, size)) {
    archive->write_failed = true;
    return 0;
  }
  return size;
}

ZPOS64_T TellArchive(voidpf /*opaque*/, voidpf stream) {
  // -1 becomes the largest offset, as with minizip's own stdio layer.
  return static_cast<ZPOS64_T>(AsStream(stream)->file.Tell());
}

long SeekArchive(voidpf /*opaque*/,
                 voidpf stream,
                 ZPOS64_T offset,
                 int origin) {
  int32_t file_origin;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      file_origin = 0;
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      file_origin = 1;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      file_origin = 2;
      break;
    default:
      return -1;
  }
  return AsStream(stream)->file.Seek(static_cast<int64_t>(offset), file_origin)
             ? 0
             : -1;
}

// The archive's last buffered bytes are written here: a failure must reach
// zipClose, or an archive without its end would pass for complete.
int CloseArchive(voidpf /*opaque*/, voidpf stream) {
  std::unique_ptr<ArchiveStream> archive(AsStream(stream));
  return archive->file.Close() ? 0 : -1;
}

int TestArchiveError(voidpf /*opaque*/, voidpf stream) {
  return AsStream(stream)->write_failed ? 1 : 0;
}

zlib_filefunc64_def ArchiveFunctions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = OpenArchive;
  functions.zread_file = ReadArchive;
  functions.zwrite_file = WriteArchive;
  functions.ztell64_file = TellArchive;
  functions.zseek64_file = SeekArchive;
  functions.zclose_file = CloseArchive;
  functions.zerror_file = TestArchiveError;
  functions.opaque = nullptr;
  return functions;
}

// The entry's time is the file's local last-write time, as zip readers show
// it; all zero when the file cannot be queried.
zip_fileinfo EntryInfo(const Path& path) {
  zip_fileinfo info{};
  std::optional<FileInfo> file_info = GetFileInfo(path);
  if (!file_info) {
    return info;
  }
  const TimeFields& fields = file_info->last_write.LocalFields();
  if (fields.month == 0) {
    // The platform could not break the time down.
    return info;
  }
  info.tmz_date.tm_sec = static_cast<uInt>(fields.second);
  info.tmz_date.tm_min = static_cast<uInt>(fields.minute);
  info.tmz_date.tm_hour = static_cast<uInt>(fields.hour);
  info.tmz_date.tm_mday = static_cast<uInt>(fields.day);
  info.tmz_date.tm_mon = static_cast<uInt>(fields.month - 1);
  // minizip takes the C library's years since 1900 as well as full years.
  info.tmz_date.tm_year = static_cast<uInt>(fields.year - 1900);
  return info;
}

}  // namespace

ZipWrapper::ZipWrapper(Path archive) : archive_(std::move(archive)) {}

void ZipWrapper::AddFile(const Path& path) {
  AddFile(path, path.FileNameUtf8());
}

void ZipWrapper::AddFile(const Path& path, std::string entry_name) {
  files_.push_back({path, std::move(entry_name)});
}

bool ZipWrapper::Finish() {
  packed_.assign(files_.size(), Packed());
  if (files_.empty()) {
    TLV_LOG(base::logging::kError, "please add files");
    return false;
  }

  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBufferSize]);
  const std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> hash(
      XXH3_createState(), &XXH3_freeState);
  if (!buffer || !hash) {
    TLV_LOG(base::logging::kError, "Error allocating memory");
    return false;
  }

  zlib_filefunc64_def functions = ArchiveFunctions();
  zipFile zip = zipOpen2_64(&archive_, APPEND_STATUS_CREATE,
                            /*globalcomment=*/nullptr, &functions);
  if (!zip) {
    TLV_LOG(base::logging::kError, "error opening {}", archive_.ToUtf8());
    return false;
  }

  for (size_t i = 0; i < files_.size(); ++i) {
    const Path& path = files_[i].path;
    TLV_LOG(base::logging::kInfo, "Package opening {}", path.ToUtf8());

    const zip_fileinfo entry_info = EntryInfo(path);
    const int zip64 = IsLargeFile(path) ? 1 : 0;
    if (zipOpenNewFileInZip3_64(
            zip, files_[i].name.c_str(), &entry_info,
            /*extrafield_local=*/nullptr, 0, /*extrafield_global=*/nullptr, 0,
            /*comment=*/nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
            /*raw=*/0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
            /*password=*/nullptr, /*crcForCrypting=*/0, zip64) != ZIP_OK) {
      TLV_LOG(base::logging::kError, "error in opening {} in zipfile",
              path.ToUtf8());
      continue;
    }

    // An entry that stays open here is closed, empty, by the next
    // zipOpenNewFileInZip3_64 or by zipClose: the archive stays readable.
    File file(path, kReadBinary);
    if (!file.IsOpen()) {
      TLV_LOG(base::logging::kError, "error in opening {} for reading",
              path.ToUtf8());
      continue;
    }

    XXH3_64bits_reset(hash.get());
    bool read_error = false;
    int result = ZIP_OK;
    int64_t read = 0;
    do {
      read = file.Read(buffer.get(), kCopyBufferSize);
      if (read < static_cast<int64_t>(kCopyBufferSize) && !file.AtEnd()) {
        TLV_LOG(base::logging::kError, "error in reading {}", path.ToUtf8());
        read_error = true;
      }
      if (read > 0) {
        packed_[i].crc32 = static_cast<uint32_t>(crc32_z(
            packed_[i].crc32, reinterpret_cast<const Bytef*>(buffer.get()),
            static_cast<size_t>(read)));
        XXH3_64bits_update(hash.get(), buffer.get(), static_cast<size_t>(read));
        result = zipWriteInFileInZip(zip, buffer.get(),
                                     static_cast<unsigned int>(read));
        if (result < 0) {
          TLV_LOG(base::logging::kError, "error in writing {} in the zipfile",
                  path.ToUtf8());
        }
      } else {
        result = read_error ? -1 : ZIP_OK;
      }
    } while (result == ZIP_OK && read > 0);
    file.Close();

    if (result >= 0) {
      if (zipCloseFileInZip(zip) != ZIP_OK) {
        TLV_LOG(base::logging::kError, "error in closing {} in the zipfile",
                path.ToUtf8());
      } else {
        packed_[i].whole = !read_error;
        packed_[i].xxh3 = XXH3_64bits_digest(hash.get());
      }
    }
  }

  if (zipClose(zip, /*global_comment=*/nullptr) != ZIP_OK) {
    TLV_LOG(base::logging::kError, "error in closing {}", archive_.ToUtf8());
    return false;
  }
  return true;
}

// static
bool ZipWrapper::IsLargeFile(const Path& path) {
  std::optional<FileInfo> info = GetFileInfo(path);
  if (!info) {
    return false;
  }
  TLV_LOG(base::logging::kInfo, "File : {} is {} bytes", path.ToUtf8(),
          info->size);
  return info->size >= kLargeFileSize;
}

}  // namespace base::utils
