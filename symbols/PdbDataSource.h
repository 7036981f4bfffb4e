#pragma once

#include <memory>
#include <optional>

#include "IDiaDataSource.h"
#include "LoadOptions.h"

namespace sorvanta {

class PdbImage;

// Loads one PDB file (once) and opens sessions on it. The sessions and
// every symbol they hand out keep the loaded image alive after the data
// source is gone.
class PdbDataSource final : public IDiaDataSource {
 public:
  // Without options, a load uses PdbImage::DefaultLoadOptions().
  PdbDataSource() = default;
  explicit PdbDataSource(LoadOptions options) : options_(options) {}

  // E_UNEXPECTED when a file was loaded already; otherwise what loading
  // the file gives (see PdbImage::Load).
  HRESULT loadDataFromPdb(const std::wstring& pdbPath) override;
  // E_UNEXPECTED before a successful load.
  HRESULT openSession(DiaRef<IDiaSession>* session) override;

 private:
  std::optional<LoadOptions> options_;
  std::shared_ptr<PdbImage> image_;
};

}  // namespace sorvanta
