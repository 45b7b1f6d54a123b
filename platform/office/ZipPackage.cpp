// Zip packages through libzip: bounded reading from memory, atomic writing to a file.
#include "platform/office/ZipPackage.h"

#include <zip.h>

#include <algorithm>
#include <fstream>
#include <memory>

namespace office {

namespace {

std::string ZipErrorText(int code) {
  zip_error_t e;
  zip_error_init_with_code(&e, code);
  std::string text = zip_error_strerror(&e);
  zip_error_fini(&e);
  return text;
}

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

Status ZipPackage::SaveFile(const std::filesystem::path& file, bool exclusive) const {
  int code = 0;
  std::unique_ptr<zip_t, ArchiveCloser> zip(
      zip_open(file.c_str(), ZIP_CREATE | (exclusive ? ZIP_EXCL : ZIP_TRUNCATE), &code));
  if (!zip) {
    if (code == ZIP_ER_EXISTS) return Status::Fail(Error::Exists, file.string() + " exists already");
    return Status::Fail(Error::WriteFailed, "cannot create " + file.string() + " (" + ZipErrorText(code) + ")");
  }
  // Readers find the content types first.
  std::vector<std::string> names = order_;
  auto ct = std::find(names.begin(), names.end(), "[Content_Types].xml");
  if (ct != names.end()) std::rotate(names.begin(), ct, ct + 1);
  for (const std::string& name : names) {
    const Entry& e = parts_.find(name)->second;
    zip_source_t* src = zip_source_buffer(zip.get(), e.data.data(), e.data.size(), 0);
    if (!src) return Status::Fail(Error::WriteFailed, zip_strerror(zip.get()));
    const zip_int64_t index = zip_file_add(zip.get(), name.c_str(), src, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(src);
      return Status::Fail(Error::WriteFailed, zip_strerror(zip.get()));
    }
    // A very large part (a long sheet) is packed at the fastest level: the default one costs
    // seconds per hundred megabytes for little gain on repetitive XML.
    const zip_uint32_t level = e.data.size() > (std::size_t(16) << 20) ? 1 : 0;
    zip_set_file_compression(zip.get(), zip_uint64_t(index), e.compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, level);
  }
  if (zip_close(zip.get()) != 0) return Status::Fail(Error::WriteFailed, "cannot write " + file.string() + " (" + zip_strerror(zip.get()) + ")");
  zip.release();  // closed: nothing left to discard
  return Status::Ok();
}

}  // namespace office
