// The registration table names the identifiers that kelvane.idl declares: it is plain
// text so that the installer's generator can read it, and nothing else ties the two.
#include <gtest/gtest.h>

#include "com/registry_table.h"
#include "com/win32.h"
#include "kelvane.h"
#include "platform/windows_platform.h"

namespace kelvane::com {
namespace {

std::string text(REFGUID guid) {
  wchar_t buffer[40];
  StringFromGUID2(guid, buffer, 40);
  return platform::utf16ToUtf8(buffer);
}

TEST(RegistryTable, NamesTheIdentifiersOfTheIdl) {
  EXPECT_EQ(registry::kLibraryId, text(LIBID_Kelvane));
  EXPECT_EQ(registry::kAddinClsid, text(CLSID_swAddIn));
  EXPECT_EQ(registry::kHandlerClsid, text(CLSID_swPropMgrHdlr));
  EXPECT_EQ(registry::kAddinIid, text(IID__swAddIn));
  EXPECT_EQ(registry::kHandlerIid, text(IID__swPropMgrHdlr));
}

}  // namespace
}  // namespace kelvane::com
