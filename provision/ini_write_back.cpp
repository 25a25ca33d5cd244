// Writing the stepped MAC address and serial number back into the INI file,
// at the positions the INI reader recorded. Only the two value texts change;
// every other byte of the file stays as it is. The file is replaced as a
// whole, never rewritten in place.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/output.h"
#include "platform/file_replace.h"
#include "provision/provisioning.h"

namespace {

// One value text to replace.
struct ValueEdit {
  const char* key;
  int32_t* position;
  int32_t* length;
  OptText* recorded;
  std::string text;  // new value text
};

// True when the recorded text still stands at the recorded position.
bool FileStillHolds(const std::string& content, const ValueEdit& edit) {
  if (!edit.recorded->has_value()) return false;
  const int64_t pos = *edit.position;
  const int64_t len = *edit.length;
  if (pos <= 0 || len < 0 || pos + len > static_cast<int64_t>(content.size())) return false;
  return content.compare(static_cast<size_t>(pos), static_cast<size_t>(len), **edit.recorded) == 0;
}

}  // namespace

int RecordIniWriteBackTexts(RunSettings& rs) {
  rs.MacWriteBackText.reset();
  rs.SerialWriteBackText.reset();
  std::string content;
  if (!rs.IniFileName || !platform::ReadWholeFile(*rs.IniFileName, content)) return -1;
  auto record = [&content](int32_t pos, int32_t len, OptText& text) {
    // A value always follows its key, so position 0 means "not recorded".
    if (pos <= 0 || len < 0 || static_cast<int64_t>(pos) + len > static_cast<int64_t>(content.size())) {
      return;
    }
    text = content.substr(static_cast<size_t>(pos), static_cast<size_t>(len));
  };
  record(rs.MacWriteBackPosition, rs.MacWriteBackLength, rs.MacWriteBackText);
  record(rs.SerialWriteBackPosition, rs.SerialWriteBackLength, rs.SerialWriteBackText);
  return 0;
}

namespace {

int WriteBackValues(const std::string& path, RunSettings& rs) {
  // Messages name the file as the user gave it; reads and writes go to the
  // real file behind it.
  const std::string& real = rs.IdentityFilePath ? *rs.IdentityFilePath : path;
  std::string content;
  if (!platform::ReadWholeFile(real, content)) {
    PrintError("The file %s is not found\n", path.c_str());
    return 3;
  }

  const MacAddress& mac = rs.CurrentMacAddress;
  char mac_text[18];
  std::snprintf(mac_text, sizeof mac_text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);

  std::vector<ValueEdit> edits;
  edits.push_back({"CurrentMacAddress", &rs.MacWriteBackPosition, &rs.MacWriteBackLength,
                   &rs.MacWriteBackText, mac_text});
  if (rs.CurrentSerialNumber) {
    edits.push_back({"CurrentSerialNumber", &rs.SerialWriteBackPosition,
                     &rs.SerialWriteBackLength, &rs.SerialWriteBackText, *rs.CurrentSerialNumber});
  }

  // Never overwrite bytes that are not the values read at the start of the
  // run: the file may have been edited or replaced since.
  for (const ValueEdit& edit : edits) {
    if (!FileStillHolds(content, edit)) {
      PrintError("The file %s no longer holds the %s value that was read from it\n", path.c_str(),
                 edit.key);
      return kWriteBackFileChanged;
    }
  }
  if (edits.size() == 2) {
    if (*edits[1].position < *edits[0].position) std::swap(edits[0], edits[1]);
    if (*edits[0].position + *edits[0].length > *edits[1].position) {
      PrintError("The file %s holds the CurrentMacAddress and CurrentSerialNumber values in one place\n",
                 path.c_str());
      return kWriteBackFileChanged;
    }
  }

  // The new file is built from the old one around the edits (which are in
  // file order) and replaces it in one step, even when the lengths stay: a
  // run stopped between two in-place writes would leave the new MAC address
  // beside the old serial number, and the next device would get that serial
  // number again.
  std::string updated;
  updated.reserve(content.size() + 64);
  size_t from = 0;
  for (const ValueEdit& edit : edits) {
    updated.append(content, from, static_cast<size_t>(*edit.position) - from);
    updated.append(edit.text);
    from = static_cast<size_t>(*edit.position + *edit.length);
  }
  updated.append(content, from, std::string::npos);
  uint32_t error = 0;
  if (!platform::ReplaceFileContents(real, reinterpret_cast<const uint8_t*>(updated.data()), updated.size(),
                                     &error)) {
    PrintError("The file %s could not be rewritten (error %u); it still holds the previous values\n",
               path.c_str(), static_cast<unsigned>(error));
    return 3;
  }

  // The file now holds the new texts: keep positions and texts in step with
  // it (a later value moves when an earlier one changed length).
  const int32_t mac_position = rs.MacWriteBackPosition;
  const int32_t mac_shift = 17 - rs.MacWriteBackLength;
  int32_t shift = 0;
  for (ValueEdit& edit : edits) {
    *edit.position += shift;
    shift += static_cast<int32_t>(edit.text.size()) - *edit.length;
    *edit.length = static_cast<int32_t>(edit.text.size());
    *edit.recorded = edit.text;
  }
  if (!rs.CurrentSerialNumber && mac_position < rs.SerialWriteBackPosition) {
    rs.SerialWriteBackPosition += mac_shift;
  }
  return 0;
}

}  // namespace

int WriteBackIni(const std::string& path, RunSettings& rs) {
  try {
    return WriteBackValues(path, rs);
  } catch (const std::bad_alloc&) {
    PrintError("No enough memory\n");
    return 2;
  }
}
