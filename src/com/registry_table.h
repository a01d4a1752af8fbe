// Everything Kelvane.dll's registration writes, as plain data: the COM classes, their
// ProgIDs, the dual interfaces, the type library and the host's add-in entry.
// DllRegisterServer writes these rows and nothing else, and scripts/package turns the
// same rows into the installer's Registry table, so regsvr32 and the MSI cannot drift
// apart. Standard C++ only: the installer's generator is a native program.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kelvane_version.h"

namespace kelvane::com::registry {

// The identifiers of kelvane.idl; a test holds them against the IDL's.
inline constexpr const char* kLibraryId = "{8736BE99-8493-43A1-9B94-C5E922E46750}";
inline constexpr const char* kLibraryVersion = "1.1";
inline constexpr const char* kAddinClsid = "{90E8E61D-D054-4485-ABB8-868C61B1F7B3}";
inline constexpr const char* kHandlerClsid = "{60F84C37-8D30-4B43-A364-8F83D27189E5}";
inline constexpr const char* kAddinIid = "{EFA6E686-FB2A-4590-9FB9-A1841A547918}";
inline constexpr const char* kHandlerIid = "{A8C72AFD-D1A2-4F66-BD14-AB26F940F06A}";
// The system's marshaller for dual interfaces, which works from the type library.
inline constexpr const char* kAutomationMarshaller = "{00020424-0000-0000-C000-000000000046}";

enum class Root { ClassesRoot, LocalMachine };

// One registry value; an empty name is the key's default value.
struct Row {
  Root root;
  std::string key;
  std::string name;
  std::string text;             // a REG_SZ value, unless isNumber
  bool isNumber = false;        // a REG_DWORD value
  std::uint32_t number = 0;
};

struct OwnedKey {
  Root root;
  std::string key;  // removed with everything below it
};

struct Class {
  const char* clsid;
  const char* progId;
  const char* name;
};
inline constexpr Class kClasses[] = {{kAddinClsid, "Kelvane.swAddIn", "Kelvane add-in"},
                                     {kHandlerClsid, "Kelvane.swPropMgrHdlr", "Kelvane page handler"}};
inline constexpr std::pair<const char*, const char*> kInterfaces[] = {{kAddinIid, "_swAddIn"},
                                                                      {kHandlerIid, "_swPropMgrHdlr"}};

inline std::string addinKey() { return std::string("SOFTWARE\\SolidWorks\\Addins\\") + kAddinClsid; }
inline std::string libraryKey() { return std::string("TypeLib\\") + kLibraryId; }

// Every value, for the module file at `modulePath` (the installer passes its own
// reference to the installed file).
inline std::vector<Row> rows(const std::string& modulePath) {
  const Root cr = Root::ClassesRoot;
  std::vector<Row> out;
  for (const Class& c : kClasses) {
    const std::string key = std::string("CLSID\\") + c.clsid;
    out.push_back({cr, key, "", c.name});
    out.push_back({cr, key + "\\InprocServer32", "", modulePath});
    out.push_back({cr, key + "\\InprocServer32", "ThreadingModel", "Apartment"});
    out.push_back({cr, key + "\\ProgID", "", c.progId});
    out.push_back({cr, key + "\\TypeLib", "", kLibraryId});
    out.push_back({cr, key + "\\Version", "", kLibraryVersion});
    out.push_back({cr, c.progId, "", c.name});
    out.push_back({cr, std::string(c.progId) + "\\CLSID", "", c.clsid});
  }
  // What RegisterTypeLib would write for the library embedded as resource 1, less the
  // HELPDIR of a help file that does not exist.
  const std::string library = libraryKey() + "\\" + kLibraryVersion;
  out.push_back({cr, library, "", "Kelvane"});
  out.push_back({cr, library + "\\0\\win64", "", modulePath});
  out.push_back({cr, library + "\\FLAGS", "", "0"});
  for (const auto& [iid, name] : kInterfaces) {
    const std::string key = std::string("Interface\\") + iid;
    out.push_back({cr, key, "", name});
    out.push_back({cr, key + "\\ProxyStubClsid", "", kAutomationMarshaller});
    out.push_back({cr, key + "\\ProxyStubClsid32", "", kAutomationMarshaller});
    out.push_back({cr, key + "\\TypeLib", "", kLibraryId});
    out.push_back({cr, key + "\\TypeLib", "Version", kLibraryVersion});
  }
  // The host's add-in list. The default value 1 loads the add-in when the host starts,
  // for every user who has not chosen otherwise in that list.
  out.push_back({Root::LocalMachine, addinKey(), "", "", true, 1});
  out.push_back({Root::LocalMachine, addinKey(), "Title", KELVANE_TITLE});
  out.push_back({Root::LocalMachine, addinKey(), "Description",
                 "Edits the active document's custom properties on a property page declared in Kelvane.ini"});
  return out;
}

// The keys that hold only our values, which unregistration removes whole.
inline std::vector<OwnedKey> ownedKeys() {
  std::vector<OwnedKey> out;
  for (const Class& c : kClasses) {
    out.push_back({Root::ClassesRoot, std::string("CLSID\\") + c.clsid});
    out.push_back({Root::ClassesRoot, c.progId});
  }
  out.push_back({Root::ClassesRoot, libraryKey()});
  for (const auto& i : kInterfaces) out.push_back({Root::ClassesRoot, std::string("Interface\\") + i.first});
  out.push_back({Root::LocalMachine, addinKey()});
  return out;
}

}  // namespace kelvane::com::registry
