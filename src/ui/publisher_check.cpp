// Publisher check with WinVerifyTrust: the generic verify action, no user interface, and
// revocation left to the system's policy (no extra revocation flags). The signer's subject
// common name is compared whole with the built-in name; a name the certificate spells in
// characters outside ASCII can never match the ASCII name the build accepts.
#include "ui/publisher_check.h"

#include "base/system_library.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace {
constexpr DWORD kNameSize = 256;

// Both libraries come from the system folder; without either the check cannot pass.
struct TrustCalls {
    decltype(&::WinVerifyTrust) WinVerifyTrust;
    decltype(&::WTHelperProvDataFromStateData) WTHelperProvDataFromStateData;
    decltype(&::WTHelperGetProvSignerFromChain) WTHelperGetProvSignerFromChain;
};
struct CertificateCalls {
    decltype(&::CertGetNameStringW) CertGetNameStringW;
};

bool SignerNameIs(const TrustCalls& trust, const CertificateCalls& certificates, HANDLE stateData,
                  const char* publisher) {
    CRYPT_PROVIDER_DATA* provider = trust.WTHelperProvDataFromStateData(stateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? trust.WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
        signer->pasCertChain[0].pCert == nullptr)
        return false;
    wchar_t name[kNameSize];
    name[0] = 0;
    DWORD n = certificates.CertGetNameStringW(signer->pasCertChain[0].pCert, CERT_NAME_ATTR_TYPE, 0,
                                 const_cast<char*>(szOID_COMMON_NAME), name, kNameSize);
    if (n <= 1 || n > kNameSize) return false;
    DWORD k = 0;
    for (; publisher[k] != 0 && name[k] != 0; ++k) {
        if (name[k] != static_cast<unsigned char>(publisher[k])) return false;
    }
    return publisher[k] == 0 && name[k] == 0;
}
}  // namespace

bool InstallerFromPublisher(HANDLE file, const wchar_t* path, const char* publisher) {
    TrustCalls trust;
    CertificateCalls certificates;
    if (!LoadSystemFunctions("wintrust.dll\0WinVerifyTrust\0WTHelperProvDataFromStateData\0WTHelperGetProvSignerFromChain\0",
                             &trust) ||
        !LoadSystemFunctions("crypt32.dll\0CertGetNameStringW\0", &certificates))
        return false;
    WINTRUST_FILE_INFO fileInfo;
    ZeroMemory(&fileInfo, sizeof fileInfo);
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;
    WINTRUST_DATA data;
    ZeroMemory(&data, sizeof data);
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // A constant, so that it lives with the read-only data (a local copy costs a data section).
    static const GUID kAction = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    GUID* action = const_cast<GUID*>(&kAction);  // WinVerifyTrust only reads it
    HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
    bool trusted = trust.WinVerifyTrust(noUser, action, &data) == ERROR_SUCCESS;
    bool fromPublisher = trusted && SignerNameIs(trust, certificates, data.hWVTStateData, publisher);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    trust.WinVerifyTrust(noUser, action, &data);
    return fromPublisher;
}
