#include "directory/MailApi.h"

#include <dlfcn.h>

#include <algorithm>
#include <stdexcept>

namespace {

// A length the library reports is trusted only within the buffer it was given.
std::size_t BoundedLength(int result, std::size_t bufferSize)
{
    if (result <= 0)
        return 0;
    return std::min(static_cast<std::size_t>(result), bufferSize);
}

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn& fn, std::string& error)
{
    dlerror();
    void* sym = dlsym(handle, name);
    if (sym == nullptr) {
        error = std::string("missing function ") + name;
        return false;
    }
    // POSIX guarantees data and function pointers convert; C++ leaves it
    // conditionally supported, hence the detour through reinterpret_cast.
    fn = reinterpret_cast<Fn>(sym);
    return true;
}

} // namespace

TMailApi::TMailApi() = default;

TMailApi::~TMailApi()
{
    Close();
}

void TMailApi::Close()
{
    if (FHandle != nullptr)
        dlclose(FHandle);
    FHandle = nullptr;
    FGetDomainCount = nullptr;
    FGetDomainName = nullptr;
    FGetUserCount = nullptr;
    FLoadUser = nullptr;
    FGetUserSetting = nullptr;
}

bool TMailApi::Open(const std::string& programDir)
{
    Close();
    FLastError.clear();
    const std::string path = programDir + "API.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        // The loader names the file itself.
        FLastError = why != nullptr ? why : path + ": cannot be loaded";
        return false;
    }
    InitFn init = nullptr;
    GetDomainCountFn domainCount = nullptr;
    GetDomainNameFn domainName = nullptr;
    GetUserCountFn userCount = nullptr;
    LoadUserFn loadUser = nullptr;
    GetUserSettingFn userSetting = nullptr;
    const bool resolved = Resolve(handle, "Init", init, FLastError)
        && Resolve(handle, "GetDomainCount", domainCount, FLastError)
        && Resolve(handle, "GetDomainName", domainName, FLastError)
        && Resolve(handle, "GetUserCount", userCount, FLastError)
        && Resolve(handle, "LoadUser", loadUser, FLastError)
        && Resolve(handle, "GetUserSetting", userSetting, FLastError);
    if (!resolved) {
        FLastError = path + ": " + FLastError;
        dlclose(handle);
        return false;
    }
    const int initResult = init(programDir.c_str());
    if (initResult != 0) {
        FLastError = path + ": Init(\"" + programDir + "\") returned " + std::to_string(initResult);
        dlclose(handle);
        return false;
    }
    FHandle = handle;
    FGetDomainCount = domainCount;
    FGetDomainName = domainName;
    FGetUserCount = userCount;
    FLoadUser = loadUser;
    FGetUserSetting = userSetting;
    return true;
}

void TMailApi::RequireOpen() const
{
    if (FHandle == nullptr)
        throw std::logic_error("mail-server library is not open");
}

int TMailApi::GetDomainCount()
{
    RequireOpen();
    return FGetDomainCount();
}

std::string TMailApi::GetDomainName(int domain)
{
    RequireOpen();
    FText.fill(0);
    const int result = FGetDomainName(domain, FText.data(), kTextBufferSize);
    return std::string(FText.data(), BoundedLength(result, FText.size()));
}

int TMailApi::GetUserCount(const std::string& domain)
{
    RequireOpen();
    return FGetUserCount(domain.c_str());
}

int TMailApi::LoadUser(const std::string& domain, int user)
{
    RequireOpen();
    // A user the library passes over must not inherit the previous user's data.
    FRecord.fill(0);
    return FLoadUser(domain.c_str(), user, FRecord.data(), kUserRecordSize);
}

std::string TMailApi::GetUserSettingStr(int index)
{
    RequireOpen();
    FText.fill(0);
    const int result = FGetUserSetting(FRecord.data(), kUserRecordSize, index,
                                       FText.data(), kTextBufferSize);
    return std::string(FText.data(), BoundedLength(result, FText.size()));
}

std::uint8_t TMailApi::GetUserSettingByte(int index)
{
    RequireOpen();
    unsigned char value[1] = {0};
    FGetUserSetting(FRecord.data(), kUserRecordSize, index, value, sizeof value);
    return value[0];
}

std::uint32_t TMailApi::GetUserSettingInt(int index)
{
    RequireOpen();
    unsigned char value[4] = {0, 0, 0, 0};
    FGetUserSetting(FRecord.data(), kUserRecordSize, index, value, sizeof value);
    return static_cast<std::uint32_t>(value[0])
        | static_cast<std::uint32_t>(value[1]) << 8
        | static_cast<std::uint32_t>(value[2]) << 16
        | static_cast<std::uint32_t>(value[3]) << 24;
}
