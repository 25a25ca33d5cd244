// OTP commands: read and save, write with its signature rules, verify and
// invalidate.
#pragma once

#include <cstdint>
#include <functional>

#include "core/exit_codes.h"
#include "core/run_settings.h"
#include "driver/request_channel.h"

// OTP signature byte values (OTP offset 0).
constexpr uint8_t kOtpEmpty = 0x00;
constexpr uint8_t kOtpFirstConfig = 0xF3;
constexpr uint8_t kOtpSecondConfig = 0xF7;
constexpr uint8_t kOtpInvalidated = 0xFF;
// OtpSignature value of an INI file that asks for invalidation.
constexpr int32_t kOtpSignatureInvalidate = 0xDEAD;
constexpr int kOtpSize = 512;

// Reads the one confirmation character: the character, or -1 when the input
// has ended (which counts as a refusal).
using ConfirmationReader = std::function<int()>;

StageResult OtpReadAndSave(RequestChannel& ch, RunSettings& rs);
// Asks for confirmation on the console.
StageResult OtpWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image);
// Same, with the confirmation read through `confirm`.
StageResult OtpWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image,
                     const ConfirmationReader& confirm);

// Reads the OTP and decides whether a write may go on; sets rs.OtpState.
// 0, 11 (unreadable), 12 (refused), 13 (full) or -1 (first configuration
// already beyond 256 bytes).
int CheckOtpSpace(RequestChannel& ch, RunSettings& rs);

// Bytes taken by the first configuration stored in `otp`: the end of the
// item that its descriptor slots place last.
int OtpBytesUsed(const uint8_t* otp);

// INI path: settles rs.OtpSignature against the OTP state. 0 or -1.
int ResolveOtpSignature(RunSettings& rs);

// Binary path: the image's signature must suit the OTP state. 0, -1 or 12.
int CheckOtpImageSignature(const RunSettings& rs, const ImageBuffer& image);

// 0 match, 1 mismatch or bad count, 11 OTP unreadable.
int VerifyOTP(RequestChannel& ch, const uint8_t* image, int count);
