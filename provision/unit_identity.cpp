#include "provision/unit_identity.h"

#include "core/exit_codes.h"
#include "provision/identity_file.h"
#include "provision/provisioning.h"

namespace {

class FileIdentitySource final : public IdentitySource {
 public:
  int Open(RunSettings& rs) override { return LockIdentityFile(rs); }
  int Check(RunSettings& rs) override {
    const int locked = CheckIdentityFileLocked(rs);
    return locked != kExitSuccess ? locked : CheckIdentityCanBeStored(rs);
  }
  int Take(RunSettings&, ProductionRecord&) override { return kExitSuccess; }
  int Commit(RunSettings& rs, ImageBuffer& image) override { return RunSteppingStage(rs, image); }
  void Release(RunSettings& rs) override { ReleaseIdentityFile(rs); }
};

class ProductionLogSink final : public UnitSink {
 public:
  explicit ProductionLogSink(std::string path) : path_(std::move(path)) {}

  int Begin(const ProductionRecord& unit, bool identity_known, bool rework) override {
    session_.record = unit;
    return OpenProductionLog(path_, rework, identity_known, session_);
  }

  int Start(const ProductionRecord& unit) override {
    session_.record = unit;
    if (!AppendStartLine(session_)) return kExitInvalidCommandLine;
    ArmStopRecord(session_);
    return kExitSuccess;
  }

  void Update(const ProductionRecord& unit) override {
    session_.record = unit;
    ArmStopRecord(session_);
  }

  bool Finish(const ProductionRecord& unit) override {
    // A stop from outside from here on waits for this record, then ends the
    // run; one that came first has written its record and ended it.
    platform::StopHold hold;
    if (session_.file) session_.file->DisarmStopRecord();
    session_.record = unit;
    return AppendProductionRecord(session_);
  }

 private:
  std::string path_;
  ProductionLogSession session_;
};

}  // namespace

std::unique_ptr<IdentitySource> MakeFileIdentitySource() { return std::make_unique<FileIdentitySource>(); }

std::unique_ptr<UnitSink> MakeProductionLogSink(const std::string& path) {
  return std::make_unique<ProductionLogSink>(path);
}
