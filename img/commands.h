// The four commands of orn5300img and their reports: text on standard
// output (findings, differences, the decoded INI file), messages on
// standard error, or one JSON document with --json.
#pragma once

#include "img/img_cli.h"

namespace img {

int RunDecode(const ImgOptions& options);
int RunCheck(const ImgOptions& options);
int RunDiff(const ImgOptions& options);
int RunVerify(const ImgOptions& options);

// Version of the JSON documents' layout.
constexpr int kJsonSchemaVersion = 2;

}  // namespace img
