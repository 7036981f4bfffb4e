#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "DiaRef.h"
#include "HResult.h"
#include "IDiaDataSource.h"
#include "IDiaSession.h"
#include "IDiaSymbol.h"

namespace sorvanta {

// The program's one symbol session on an open PDB file, and its two queries.
// The main window reaches it through Instance(); it is created on first use
// and destroyed at process exit.
class DiaSymbol {
 public:
  using DataSourceFactory = std::function<HRESULT(DiaRef<IDiaDataSource>*)>;

  // The process-wide instance, created on first call. Throws
  // std::logic_error("Dead Reference Detected") when called after the
  // instance was destroyed at exit.
  static DiaSymbol& Instance();

  // The program itself only uses Instance(); a separate object with its
  // own data-source factory lets tests put fakes behind the queries.
  explicit DiaSymbol(DataSourceFactory createDataSource = CreateDiaDataSource);
  virtual ~DiaSymbol();

  DiaSymbol(const DiaSymbol&) = delete;
  DiaSymbol& operator=(const DiaSymbol&) = delete;

  // Drops the open session, then loads path. True when a session is held.
  bool Open(const std::wstring& path);

  // Functions whose undecorated name equals name, up to its first NUL,
  // without regard to case; every function for an empty name (one that
  // begins with NUL is not empty); empty with no file open. Throws
  // std::bad_alloc when the name cannot be copied.
  SymbolList FindFunctionsByName(const std::wstring& name);

  // The function whose range holds va, or a null reference.
  SymbolRef FindFunctionByVA(std::uint64_t va);

  // The open session; null while no file is open.
  DiaRef<IDiaSession> session;

 private:
  DataSourceFactory createDataSource;
};

}  // namespace sorvanta
