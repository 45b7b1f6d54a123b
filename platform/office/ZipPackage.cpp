// Zip packages through libzip: bounded reading from memory, durable writing to a file.
#include "platform/office/ZipPackage.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/durable_file.h"

namespace office {

namespace {

struct ArchiveCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};

}  // namespace

Status ZipPackage::ReadFile(const std::filesystem::path& file, const PackageLimits& limits, std::string* bytes) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) return Status::Fail(Error::NotFound, "cannot read " + file.string());
  if (size > limits.maxFileBytes) return Status::Fail(Error::TooLarge, "the file is larger than the limit");
  std::ifstream in(file, std::ios::binary);
  bytes->assign(std::size_t(size), '\0');
  if (!in || !in.read(bytes->data(), std::streamsize(size))) return Status::Fail(Error::NotFound, "cannot read " + file.string());
  return Status::Ok();
}

Status ZipPackage::LoadFile(const std::filesystem::path& file, const PackageLimits& limits) {
  std::string bytes;
  const Status read = ReadFile(file, limits, &bytes);
  return read.ok() ? LoadBytes(bytes, limits) : read;
}

Status ZipPackage::LoadBytes(std::string_view bytes, const PackageLimits& limits) {
  parts_.clear();
  order_.clear();
  if (bytes.size() > limits.maxFileBytes) return Status::Fail(Error::TooLarge, "the file is larger than the limit");
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &err);
  if (!src) {
    zip_error_fini(&err);
    return Status::Fail(Error::NotAPackage, "cannot read the archive");
  }
  std::unique_ptr<zip_t, ArchiveCloser> zip(zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err));
  if (!zip) {
    zip_source_free(src);
    const std::string text = zip_error_strerror(&err);
    zip_error_fini(&err);
    return Status::Fail(Error::NotAPackage, "not a zip archive (" + text + ")");
  }
  zip_error_fini(&err);

  const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  if (count <= 0) return Status::Fail(Error::NotAPackage, "an empty archive");
  if (std::size_t(count) > limits.maxEntries) return Status::Fail(Error::TooLarge, "too many parts");
  std::size_t total = 0;
  std::vector<char> chunk(std::size_t(1) << 16);
  for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
    zip_stat_t st;
    if (zip_stat_index(zip.get(), i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
      return Status::Fail(Error::NotAPackage, "unreadable archive entry");
    std::string name = st.name;
    if (!name.empty() && name.back() == '/') continue;  // folder entries carry nothing
    if (!name.empty() && name.front() == '/') name.erase(0, 1);
    if (name.empty() || parts_.count(name)) return Status::Fail(Error::NotAPackage, "duplicate or empty part name");
    // The declared size is only a claim: the inflated bytes are counted as they come.
    if ((st.valid & ZIP_STAT_SIZE) && st.size > limits.maxTotalBytes - total)
      return Status::Fail(Error::TooLarge, "the parts inflate beyond the limit");
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> f(zip_fopen_index(zip.get(), i, 0), zip_fclose);
    if (!f) return Status::Fail(Error::NotAPackage, "cannot open part " + name + " (" + zip_strerror(zip.get()) + ")");
    std::string data;
    for (;;) {
      const zip_int64_t n = zip_fread(f.get(), chunk.data(), chunk.size());
      if (n < 0) return Status::Fail(Error::NotAPackage, "cannot inflate part " + name + " (" + zip_file_strerror(f.get()) + ")");
      if (n == 0) break;
      if (std::size_t(n) > limits.maxTotalBytes - total)
        return Status::Fail(Error::TooLarge, "the parts inflate beyond the limit");
      total += std::size_t(n);
      data.append(chunk.data(), std::size_t(n));
    }
    const bool compressed = !(st.valid & ZIP_STAT_COMP_METHOD) || st.comp_method != ZIP_CM_STORE;
    order_.push_back(name);
    parts_.emplace(std::move(name), Entry{std::move(data), compressed});
  }
  return Status::Ok();
}

const std::string* ZipPackage::Find(std::string_view name) const {
  auto it = parts_.find(name);
  return it == parts_.end() ? nullptr : &it->second.data;
}

void ZipPackage::Put(std::string_view name, std::string data, bool compress) {
  auto it = parts_.find(name);
  if (it == parts_.end()) {
    order_.emplace_back(name);
    parts_.emplace(std::string(name), Entry{std::move(data), compress});
  } else {
    it->second = Entry{std::move(data), compress};
  }
}

void ZipPackage::Remove(std::string_view name) {
  auto it = parts_.find(name);
  if (it == parts_.end()) return;
  parts_.erase(it);
  order_.erase(std::remove(order_.begin(), order_.end(), name), order_.end());
}

std::vector<std::string> ZipPackage::Names() const { return order_; }

namespace {

// The archive as libzip writes it: into a temporary file of the durable writer beside the
// target, synced and renamed into place only when libzip committed it whole. libzip sees a
// target that does not exist yet (the archive is always written afresh) and never names a
// temporary file of its own.
class DurableTarget {
 public:
  DurableTarget(const std::filesystem::path& file, bool exclusive) : file_(file), exclusive_(exclusive) {
    zip_error_init(&error_);
  }
  ~DurableTarget() { zip_error_fini(&error_); }
  int SysError() const { return sysError_; }

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<DurableTarget*>(self)->Run(data, len, cmd);
  }

 private:
  // `sysError` is kept for the caller's message when it is the writer's.
  zip_int64_t Fail(int zipError, int sysError, bool writing = true) {
    if (writing && sysError_ == 0) sysError_ = sysError;
    zip_error_set(&error_, zipError, sysError);
    return -1;
  }

  zip_int64_t Run(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                                              ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
                                              ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
      case ZIP_SOURCE_STAT:
      case ZIP_SOURCE_OPEN:
        // There is nothing to read: the archive is new.
        return Fail(ZIP_ER_READ, ENOENT, false);
      case ZIP_SOURCE_READ:
      case ZIP_SOURCE_SEEK:
      case ZIP_SOURCE_TELL: return Fail(ZIP_ER_OPNOTSUPP, 0, false);
      case ZIP_SOURCE_CLOSE: return 0;
      case ZIP_SOURCE_ERROR: return zip_error_to_data(&error_, data, len);
      case ZIP_SOURCE_FREE: writer_.reset(); return 0;
      case ZIP_SOURCE_BEGIN_WRITE:
        writer_ = std::make_unique<DurableFile>(file_);
        if (!writer_->Open()) return Fail(ZIP_ER_TMPOPEN, writer_->Error());
        return 0;
      case ZIP_SOURCE_WRITE:
        if (!writer_ || !writer_->Write(data, std::size_t(len))) return Fail(ZIP_ER_WRITE, writer_ ? writer_->Error() : EBADF);
        return zip_int64_t(len);
      case ZIP_SOURCE_TELL_WRITE:
        if (!writer_) return Fail(ZIP_ER_TELL, EBADF);
        return zip_int64_t(writer_->Tell());
      case ZIP_SOURCE_SEEK_WRITE: {
        auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &error_);
        if (!args || !writer_) return Fail(ZIP_ER_SEEK, EINVAL);
        std::int64_t to = args->offset;
        if (args->whence == SEEK_CUR) to += std::int64_t(writer_->Tell());
        if (args->whence == SEEK_END) return Fail(ZIP_ER_SEEK, EINVAL);  // libzip never asks for it
        if (to < 0 || !writer_->Seek(std::uint64_t(to))) return Fail(ZIP_ER_SEEK, writer_->Error() ? writer_->Error() : EINVAL);
        return 0;
      }
      case ZIP_SOURCE_COMMIT_WRITE:
        if (!writer_ || !writer_->Commit(!exclusive_)) return Fail(ZIP_ER_WRITE, writer_ ? writer_->Error() : EBADF);
        writer_.reset();
        return 0;
      case ZIP_SOURCE_ROLLBACK_WRITE: writer_.reset(); return 0;
      case ZIP_SOURCE_REMOVE: return 0;  // nothing of ours stands under the name yet
      default: return Fail(ZIP_ER_OPNOTSUPP, 0, false);
    }
  }

  std::filesystem::path file_;
  bool exclusive_;
  zip_error_t error_;
  int sysError_ = 0;
  std::unique_ptr<DurableFile> writer_;  // its destructor removes an uncommitted temporary
};

}  // namespace

Status ZipPackage::SaveFile(const std::filesystem::path& file, bool exclusive) const {
  std::error_code ec;
  if (exclusive && std::filesystem::exists(file, ec)) return Status::Fail(Error::Exists, file.string() + " exists already");
  DurableTarget target(file, exclusive);
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_function_create(&DurableTarget::Callback, &target, &err);
  std::unique_ptr<zip_t, ArchiveCloser> zip(src ? zip_open_from_source(src, ZIP_CREATE | ZIP_TRUNCATE, &err) : nullptr);
  if (!zip) {
    if (src) zip_source_free(src);
    const std::string text = zip_error_strerror(&err);
    zip_error_fini(&err);
    return Status::Fail(Error::WriteFailed, "cannot create " + file.string() + " (" + text + ")");
  }
  zip_error_fini(&err);
  // Readers find the content types first.
  std::vector<std::string> names = order_;
  auto ct = std::find(names.begin(), names.end(), "[Content_Types].xml");
  if (ct != names.end()) std::rotate(names.begin(), ct, ct + 1);
  for (const std::string& name : names) {
    const Entry& e = parts_.find(name)->second;
    zip_source_t* part = zip_source_buffer(zip.get(), e.data.data(), e.data.size(), 0);
    if (!part) return Status::Fail(Error::WriteFailed, zip_strerror(zip.get()));
    const zip_int64_t index = zip_file_add(zip.get(), name.c_str(), part, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(part);
      return Status::Fail(Error::WriteFailed, zip_strerror(zip.get()));
    }
    // A very large part (a long sheet) is packed at the fastest level: the default one costs
    // seconds per hundred megabytes for little gain on repetitive XML.
    const zip_uint32_t level = e.data.size() > (std::size_t(16) << 20) ? 1 : 0;
    zip_set_file_compression(zip.get(), zip_uint64_t(index), e.compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, level);
  }
  if (zip_close(zip.get()) != 0) {
    if (target.SysError() == EEXIST) return Status::Fail(Error::Exists, file.string() + " exists already");
    const std::string reason = target.SysError() ? std::strerror(target.SysError()) : zip_strerror(zip.get());
    return Status::Fail(Error::WriteFailed, "cannot write " + file.string() + " (" + reason + ")");
  }
  zip.release();  // closed: nothing left to discard
  return Status::Ok();
}

}  // namespace office
