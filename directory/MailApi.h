// Loader of the mail server's user-database library (API.so in the program folder)
// and the typed wrappers the directory build reads users through.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The user record handed to LoadUser: opaque to us, sized as the library expects.
inline constexpr int kUserRecordSize = 4092;
// Buffer for a domain name or a text setting.
inline constexpr int kTextBufferSize = 2048;

// Setting indexes read by the directory build.
inline constexpr int kSettingState = 0;      // int; published only when unsigned < 2
inline constexpr int kSettingName = 2;       // text "Name;Comment"
inline constexpr int kSettingMailboxes = 3;  // text "a;b;c"
inline constexpr int kSettingHidden = 32;    // byte; published only when 0

// One instance per service start: Open loads the library afresh and the destructor
// unloads it. Not thread-safe: every call comes from the thread that starts the
// service, while no connection exists.
class TMailApi {
public:
    TMailApi();
    ~TMailApi();
    TMailApi(const TMailApi&) = delete;
    TMailApi& operator=(const TMailApi&) = delete;

    // Loads programDir + "API.so" (programDir ends with "/"), resolves the six
    // entry points and calls Init(programDir). False when the library is missing
    // or unloadable, lacks a name, or Init answers non-zero; the caller then shows
    // "Cannot open API". A previously opened library is unloaded first.
    bool Open(const std::string& programDir);
    bool IsOpen() const { return FHandle != nullptr; }
    // Why the last Open failed (loader message, missing name or Init result).
    const std::string& LastError() const { return FLastError; }

    // The wrappers below raise std::logic_error when the library is not open.
    int GetDomainCount();
    // At most kTextBufferSize bytes.
    std::string GetDomainName(int domain);
    int GetUserCount(const std::string& domain);
    // Fills the current user record; > 0 means the record now holds that user.
    int LoadUser(const std::string& domain, int user);

    // Settings of the current user record.
    std::string GetUserSettingStr(int index);   // at most kTextBufferSize bytes
    std::uint8_t GetUserSettingByte(int index);
    std::uint32_t GetUserSettingInt(int index); // least significant byte first

private:
    using InitFn = int (*)(const char*);
    using GetDomainCountFn = int (*)();
    using GetDomainNameFn = int (*)(int, char*, int);
    using GetUserCountFn = int (*)(const char*);
    using LoadUserFn = int (*)(const char*, int, void*, int);
    using GetUserSettingFn = int (*)(void*, int, int, void*, int);

    void Close();
    void RequireOpen() const;

    void* FHandle = nullptr;
    GetDomainCountFn FGetDomainCount = nullptr;
    GetDomainNameFn FGetDomainName = nullptr;
    GetUserCountFn FGetUserCount = nullptr;
    LoadUserFn FLoadUser = nullptr;
    GetUserSettingFn FGetUserSetting = nullptr;
    std::string FLastError;
    // One block reused for every user, as the library's contract expects.
    std::array<unsigned char, kUserRecordSize> FRecord{};
    std::array<char, kTextBufferSize> FText{};
};
