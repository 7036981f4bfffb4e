#include "PdbDataSource.h"

#include <new>

#include "PdbImage.h"
#include "PdbSession.h"
#include "Utf8.h"

namespace sorvanta {

HRESULT PdbDataSource::loadDataFromPdb(const std::wstring& pdbPath) {
  if (image_) return E_UNEXPECTED;
  try {
    const std::string path = WideToUtf8(pdbPath);
    return options_ ? PdbImage::Load(path, *options_, &image_) : PdbImage::Load(path, &image_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PdbDataSource::openSession(DiaRef<IDiaSession>* session) {
  if (!session) return E_POINTER;
  if (!image_) return E_UNEXPECTED;
  try {
    *session = std::make_shared<PdbSession>(image_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CreateDiaDataSource(DiaRef<IDiaDataSource>* source) {
  if (!source) return E_POINTER;
  try {
    *source = std::make_shared<PdbDataSource>();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace sorvanta
