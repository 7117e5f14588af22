// The virtual detector's state folder: mem0.bin, mem1.bin and firmware.txt. A file
// that is there but wrong is an error and is left as it is; the user's device state is
// never replaced behind their back. Writes go to a temporary file that is renamed over
// the old one, so a crash leaves either the old or the new image, never half of one.
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

#include "sim/virtual_detector.h"

namespace tessaly::sim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFileNames[3] = {"mem0.bin", "mem1.bin", "firmware.txt"};
constexpr size_t kFirmwareFileLimit = 64;  // a number and some white space

struct StateFiles {
  bool have[3] = {false, false, false};
  std::vector<uint8_t> mem0, mem1;
  uint32_t firmware = kDefaultFirmware;
};

// Reads a file that must be exactly `expected` bytes (or at most `limit` when
// `expected` is 0). Missing: true with `present` false.
bool ReadStateFile(const fs::path& path, size_t expected, size_t limit, std::vector<uint8_t>& out,
                   bool& present, std::string& error) {
  std::error_code ec;
  present = false;
  fs::file_status status = fs::status(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    error = path.string() + ": " + ec.message();
    return false;
  }
  if (!fs::exists(status))
    return true;
  if (!fs::is_regular_file(status)) {
    error = path.string() + " is not a regular file";
    return false;
  }
  uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    error = path.string() + ": " + ec.message();
    return false;
  }
  if (expected != 0 && size != expected) {
    error = path.string() + " is " + std::to_string(size) + " bytes; it must be exactly " +
            std::to_string(expected) + " bytes (fix or remove it)";
    return false;
  }
  if (expected == 0 && size > limit) {
    error = path.string() + " is too long (" + std::to_string(size) + " bytes)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  out.assign(static_cast<size_t>(size), 0);
  if (!in || !in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size))) {
    error = "cannot read " + path.string();
    return false;
  }
  present = true;
  return true;
}

bool ParseFirmware(const std::vector<uint8_t>& text, uint32_t& out) {
  auto isSpace = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t begin = 0, end = text.size();
  while (begin < end && isSpace(text[begin]))
    ++begin;
  while (end > begin && isSpace(text[end - 1]))
    --end;
  if (begin == end)
    return false;
  const char* first = reinterpret_cast<const char*>(text.data()) + begin;
  const char* last = reinterpret_cast<const char*>(text.data()) + end;
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last;
}

bool ReadStateFolder(const fs::path& folder, StateFiles& files, std::string& error) {
  const size_t sizes[2] = {size_t{kMemory0Pages} * kSimPageBytes,
                           size_t{kMemory1Pages} * kSimPageBytes};
  if (!ReadStateFile(folder / kFileNames[0], sizes[0], 0, files.mem0, files.have[0], error) ||
      !ReadStateFile(folder / kFileNames[1], sizes[1], 0, files.mem1, files.have[1], error))
    return false;
  std::vector<uint8_t> text;
  if (!ReadStateFile(folder / kFileNames[2], 0, kFirmwareFileLimit, text, files.have[2], error))
    return false;
  if (files.have[2] && !ParseFirmware(text, files.firmware)) {
    error = (folder / kFileNames[2]).string() +
            " does not hold a firmware number (a decimal number such as 1008)";
    return false;
  }
  return true;
}

bool WriteFileReplacing(const fs::path& path, const uint8_t* data, size_t size,
                        std::string& error) {
  fs::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out)
      out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.flush();
    if (!out) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      error = "cannot write " + temp.string();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    error = "cannot replace " + path.string() + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

VirtualDetector::FileStamp VirtualDetector::StampOf(const fs::path& path) {
  FileStamp stamp;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return stamp;
  stamp.valid = true;
  stamp.device = static_cast<uint64_t>(st.st_dev);
  stamp.inode = static_cast<uint64_t>(st.st_ino);
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.mtimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
  stamp.mtimeNsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  return stamp;
}

std::shared_ptr<VirtualDetector> VirtualDetector::OpenStateFolder(const fs::path& folder,
                                                                  Profile profile,
                                                                  std::string& error) {
  error.clear();
  if (folder.empty()) {
    error = "no state folder given";
    return nullptr;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec)) {
    error = "cannot use " + folder.string() + " as the state folder" +
            (ec ? ": " + ec.message() : std::string());
    return nullptr;
  }
  // Everything is checked before anything is written.
  StateFiles files;
  if (!ReadStateFolder(folder, files, error))
    return nullptr;

  auto detector = std::make_shared<VirtualDetector>(profile);
  std::lock_guard lock(detector->m_mutex);
  fs::path canonical = fs::weakly_canonical(folder, ec);
  detector->m_folder = ec ? fs::absolute(folder) : canonical;
  detector->m_lockName = "sim:" + detector->m_folder.string();
  if (files.have[0])
    detector->m_mem0 = std::move(files.mem0);
  if (files.have[1])
    detector->m_mem1 = std::move(files.mem1);
  if (files.have[2])
    detector->m_firmware = files.firmware;
  // Only the missing files are written, from the profile.
  detector->m_dirty0 = !files.have[0];
  detector->m_dirty1 = !files.have[1];
  detector->m_dirtyFirmware = !files.have[2];
  if (!detector->SaveLocked(error)) {
    detector->m_folder.clear();  // nothing more to write on destruction
    return nullptr;
  }
  return detector;
}

bool VirtualDetector::SaveLocked(std::string& error) {
  if (m_folder.empty())
    return true;
  if (m_dirty0) {
    if (!WriteFileReplacing(m_folder / kFileNames[0], m_mem0.data(), m_mem0.size(), error))
      return false;
    m_dirty0 = false;
  }
  if (m_dirty1) {
    if (!WriteFileReplacing(m_folder / kFileNames[1], m_mem1.data(), m_mem1.size(), error))
      return false;
    m_dirty1 = false;
  }
  if (m_dirtyFirmware) {
    std::string text = std::to_string(m_firmware) + "\n";
    if (!WriteFileReplacing(m_folder / kFileNames[2], reinterpret_cast<const uint8_t*>(text.data()),
                            text.size(), error))
      return false;
    m_dirtyFirmware = false;
  }
  StampFilesLocked();
  return true;
}

bool VirtualDetector::LoadFilesLocked(std::string& error) {
  StateFiles files;
  if (!ReadStateFolder(m_folder, files, error))
    return false;
  // A file removed meanwhile is written again from what this detector holds.
  // Copied into place: spans handed out by Memory() stay valid.
  if (files.have[0])
    std::copy(files.mem0.begin(), files.mem0.end(), m_mem0.begin());
  if (files.have[1])
    std::copy(files.mem1.begin(), files.mem1.end(), m_mem1.begin());
  if (files.have[2])
    m_firmware = files.firmware;
  m_dirty0 = !files.have[0];
  m_dirty1 = !files.have[1];
  m_dirtyFirmware = !files.have[2];
  StampFilesLocked();
  return true;
}

void VirtualDetector::StampFilesLocked() {
  for (size_t i = 0; i < m_stamps.size(); ++i)
    m_stamps[i] = StampOf(m_folder / kFileNames[i]);
}

bool VirtualDetector::FilesChangedLocked() const {
  for (size_t i = 0; i < m_stamps.size(); ++i)
    if (!(StampOf(m_folder / kFileNames[i]) == m_stamps[i]))
      return true;
  return false;
}

}  // namespace tessaly::sim
