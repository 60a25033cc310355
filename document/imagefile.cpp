#include "document/imagefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "document/codec.h"

namespace lq {

namespace {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string LowerExtension(const std::string& fileName) {
  return LowerAscii(std::filesystem::path(fileName).extension().string());
}

std::string ErrnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

void SetError(std::string* error, std::string what) {
  if (error) *error = std::move(what);
}

// Reads a whole regular file. Devices and pipes are refused: they may never end.
bool ReadWholeFile(const std::string& fileName, std::unique_ptr<uint8_t[]>* bytes, size_t* size, std::string* error) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, ErrnoText(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetError(error, "not a regular file");
    return false;
  }
  if (st.st_size <= 0) {
    ::close(fd);
    SetError(error, "empty file");
    return false;
  }
  const size_t want = size_t(st.st_size);
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[want]);
  if (!buf) {
    ::close(fd);
    SetError(error, "not enough memory to read the file");
    return false;
  }
  size_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(fd, buf.get() + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      SetError(error, ErrnoText(err));
      return false;
    }
    if (n == 0) break;  // shrank while we read: decode what is there
    got += size_t(n);
  }
  ::close(fd);
  *bytes = std::move(buf);
  *size = got;
  return true;
}

// The Exif block that marks a JPEG as 300 dpi (TIFF part little-endian).
constexpr uint8_t kJpegDpi300[76] = {
    0xFF, 0xE1, 0x00, 0x4A,                                            // APP1, length 74
    0x45, 0x78, 0x69, 0x66, 0x00, 0x00,                                // "Exif\0\0"
    0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00,                    // II, 42, IFD at 8
    0x03, 0x00,                                                        // three entries
    0x1A, 0x01, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00,  // XResolution @50
    0x1B, 0x01, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3A, 0x00, 0x00, 0x00,  // YResolution @58
    0x28, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // unit: inch
    0x00, 0x00, 0x00, 0x00,                                            // no next IFD
    0x2C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,                    // 300 / 1
    0x2C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,                    // 300 / 1
};
static_assert(sizeof(kJpegDpi300) == 76);

// pHYs: 11811 pixels per metre (300 dpi) across and down, with its CRC.
constexpr uint8_t kPngPhys300[21] = {
    0x00, 0x00, 0x00, 0x09, 'p',  'H',  'Y',  's',  0x00, 0x00, 0x2E,
    0x23, 0x00, 0x00, 0x2E, 0x23, 0x01, 0x78, 0xA5, 0x3F, 0x76,
};

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

std::string LoadFailedMessage(const std::string& fileName) { return "Failed to load image: " + fileName; }

Image ReadImageFile(const std::string& fileName, std::string* message, std::string* reason) {
  std::string why;
  Image img;
  try {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    if (ReadWholeFile(fileName, &bytes, &size, &why)) img = DecodeImage(bytes.get(), size, &why);
  } catch (const std::exception& e) {
    img = Image();
    why = e.what();
  }
  if (!img) {
    if (message) *message = LoadFailedMessage(fileName);
    if (reason) *reason = why.empty() ? "unreadable image" : why;
  }
  return img;
}

SaveFormat SaveFormatFor(const std::string& fileName) {
  const std::string ext = LowerExtension(fileName);
  if (ext == ".jpg" || ext == ".jpeg") return SaveFormat::Jpeg;
  if (ext == ".png") return SaveFormat::Png;
  if (ext == ".webp") return SaveFormat::WebP;
  return SaveFormat::Invalid;
}

bool SetJPEGDPITo300(std::vector<uint8_t>& jpeg) {
  const size_t n = jpeg.size();
  if (n < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  std::vector<uint8_t> out;
  out.reserve(n + sizeof(kJpegDpi300));
  out.push_back(0xFF);
  out.push_back(0xD8);
  bool written = false;
  auto writeTag = [&] {
    out.insert(out.end(), kJpegDpi300, kJpegDpi300 + sizeof(kJpegDpi300));
    written = true;
  };
  size_t pos = 2;
  while (n - pos >= 2) {
    const uint8_t b0 = jpeg[pos], b1 = jpeg[pos + 1];
    if (b0 != 0xFF) {
      out.push_back(b0);
      out.push_back(b1);
      pos += 2;
      continue;
    }
    if (b1 == 0xE0 || b1 == 0xE1) {
      if (n - pos < 4) return false;
      const size_t len = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
      // A segment that claims more bytes than remain: not our encoder's output.
      if (len < 2 || len > n - pos - 2) return false;
      const uint8_t* seg = jpeg.data() + pos;
      pos += 2 + len;
      if (b1 == 0xE1 && len >= 8 && std::memcmp(seg + 4, "Exif\0\0", 6) == 0) continue;  // replaced
      out.insert(out.end(), seg, seg + 2 + len);
      if (b1 == 0xE0 && !written) writeTag();
      continue;
    }
    if (!written) writeTag();
    out.insert(out.end(), jpeg.begin() + ptrdiff_t(pos), jpeg.end());
    jpeg.swap(out);
    return true;
  }
  // The header ran out before any image segment.
  return false;
}

bool InsertPngDPI300(std::vector<uint8_t>& png) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (png.size() < 8 + 12 || std::memcmp(png.data(), kSignature, 8) != 0) return false;
  if (std::memcmp(png.data() + 12, "IHDR", 4) != 0) return false;
  const uint64_t len = uint64_t(png[8]) << 24 | uint64_t(png[9]) << 16 | uint64_t(png[10]) << 8 | png[11];
  if (len > png.size() - 20) return false;
  const size_t at = 8 + 12 + size_t(len);
  png.insert(png.begin() + ptrdiff_t(at), kPngPhys300, kPngPhys300 + sizeof(kPngPhys300));
  return true;
}

std::vector<uint8_t> EncodeImageForFile(const Image& img, const std::string& fileName, std::string* error) {
  std::vector<uint8_t> bytes;
  switch (SaveFormatFor(fileName)) {
    case SaveFormat::Invalid:
      SetError(error, "Invalid extension");
      return {};
    case SaveFormat::Jpeg:
      bytes = EncodeJpeg(img, kSaveQuality, error);
      if (!bytes.empty()) SetJPEGDPITo300(bytes);
      break;
    case SaveFormat::Png:
      bytes = EncodePng(img, error);
      if (!bytes.empty()) InsertPngDPI300(bytes);
      break;
    case SaveFormat::WebP:
      bytes = EncodeWebp(img, kSaveQuality, error);
      break;
  }
  return bytes;
}

bool WriteFileAtomically(const std::string& fileName, const uint8_t* data, size_t size, std::string* error) {
  namespace fs = std::filesystem;
  std::string target = fileName;
  // Writing through a symbolic link replaces the file it points to, not the link.
  if (char* real = ::realpath(fileName.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  const fs::path path(target);
  const std::string base = path.filename().string();
  if (base.empty() || base == "." || base == "..") {
    SetError(error, "Cannot write " + fileName + ": not a file name");
    return false;
  }
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    SetError(error, "Cannot write " + fileName + ": not a regular file");
    return false;
  }
  const std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";

  // A hidden name in the same folder, so the rename stays on one file system.
  std::string temp;
  int fd = -1;
  std::random_device rd;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = dir + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(g_tempCounter.fetch_add(1)) + "-" + std::to_string(rd() & 0xFFFF);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetError(error, "Cannot write " + fileName + ": " + ErrnoText(errno));
    return false;
  }
  auto fail = [&](int err) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    SetError(error, "Cannot write " + fileName + ": " + ErrnoText(err));
    return false;
  };
  if (exists) {
    // The replacement keeps the permissions (and, where allowed, the owner) of the old file.
    if (::fchmod(fd, old.st_mode & 07777) != 0) return fail(errno);
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) { /* only root may give files away */ }
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(n < 0 ? errno : EIO);
    done += size_t(n);
  }
  if (::fsync(fd) != 0) return fail(errno);
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return fail(errno);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(errno);
  // Make the rename itself durable; the data is already safe if this fails.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool WriteImageFile(const Image& img, const std::string& fileName, std::string* error) {
  try {
    const std::vector<uint8_t> bytes = EncodeImageForFile(img, fileName, error);
    if (bytes.empty()) {
      if (error && error->empty()) *error = "encoding failed";
      return false;
    }
    return WriteFileAtomically(fileName, bytes.data(), bytes.size(), error);
  } catch (const std::bad_alloc&) {
    SetError(error, "out of memory");
    return false;
  }
}

SaveSuggestion SuggestSaveName(const std::string& sourceFileName) {
  SaveSuggestion s;
  if (sourceFileName.empty()) {
    s.fileName = "Lumaquill_image.png";
    s.filterIndex = 2;
    return s;
  }
  const std::filesystem::path p(sourceFileName);
  std::string ext = LowerExtension(sourceFileName);
  // Propose only what the save accepts; everything else (BMP, GIF, TIFF, ...) becomes PNG.
  if (SaveFormatFor(sourceFileName) == SaveFormat::Invalid) ext = ".png";
  s.folder = p.parent_path().string();
  s.fileName = p.stem().string() + "_LQ" + ext;
  s.filterIndex = ext == ".jpg" || ext == ".jpeg" ? 1 : ext == ".webp" ? 3 : 2;
  return s;
}

}  // namespace lq
