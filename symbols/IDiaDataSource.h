#pragma once

#include <string>

#include "DiaRef.h"
#include "HResult.h"
#include "IDiaSession.h"

namespace sorvanta {

// Loads one PDB file and opens sessions on it.
class IDiaDataSource {
 public:
  virtual ~IDiaDataSource() = default;

  virtual HRESULT loadDataFromPdb(const std::wstring& pdbPath) = 0;
  virtual HRESULT openSession(DiaRef<IDiaSession>* session) = 0;
};

// Creates the PDB data source (what CoCreateInstance of DiaSource does on
// Windows). Fails with E_OUTOFMEMORY when it cannot be allocated.
HRESULT CreateDiaDataSource(DiaRef<IDiaDataSource>* source);

}  // namespace sorvanta
