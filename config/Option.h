// The typed key/value settings store and its settings-file section.
#pragma once

#include "config/Value.h"

#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

// A value of a settings file that does not convert: the conversion's own text,
// with the key (as written in the file) and the file it came from.
class ESettingError : public EConvertError {
public:
    ESettingError(const std::string& text, std::string key, std::string path)
        : EConvertError(text), FKey(std::move(key)), FPath(std::move(path))
    {
    }
    const std::string& Key() const { return FKey; }
    const std::string& Path() const { return FPath; }

private:
    std::string FKey;
    std::string FPath;
};

// Value kinds; they govern only the text form of a value.
enum : uint8_t {
    okString = 0,
    okInteger = 1,
    okFloat = 2,
    okDateTime = 3,
    okBoolean = 4,
};

inline constexpr const char* kOptionsSection = "OPTIONS";

// One setting.
struct TOption {
    std::string Name;
    uint8_t Kind = okString;
    TValue Value;
    TValue PreviousValue;  // empty until the first RememberValues

    // `Value` as text by `Kind`: decimal, "Yes"/"No", general float,
    // "M/d/yyyy h:mm:ss AM"; empty text for an unknown kind.
    std::string AsText() const;
    // The text converted by `Kind` (raises EConvertError; booleans are true for
    // exactly "Yes" and never fail; an unknown kind stores Null).
    void SetAsText(const std::string& text);

    bool AsBoolean() const { return Value.AsBoolean(); }
    void SetAsBoolean(bool value) { Value = TValue(value); }
    int32_t AsInteger() const { return Value.AsInteger(); }
    void SetAsInteger(int32_t value) { Value = TValue(value); }
};

// Entries in definition order, which is also the save order; the first entry
// of a name wins every lookup.
//
// Connection threads read values while the user-interface thread replaces
// them, so every member goes through FLock (shared for reads, exclusive for
// changes); accessors hand out copies, never references into the list.
class TOptions {
public:
    TOptions();
    virtual ~TOptions() = default;
    TOptions(const TOptions&) = delete;
    TOptions& operator=(const TOptions&) = delete;

    // Appends without looking for an entry of the same name; returns its index.
    int AddOption(const std::string& name, uint8_t kind, const TValue& defaultValue);
    // ASCII letters compared without case; -1 when not defined.
    int IndexOfOption(const std::string& name) const;
    int Count() const;
    TOption Option(int index) const;  // a copy; raises std::out_of_range

    // Applies the keys of section OPTIONS in file order; a missing file or
    // section changes nothing. A conversion error ends the load and propagates
    // as ESettingError; entries set from earlier lines keep their new values.
    void LoadFromFile(const std::string& path);
    // Writes every entry in list order with one read and one atomic write of
    // the file. Raises EProfileError "Unable to write to <path>"; the file is
    // then left exactly as it was.
    void SaveToFile(const std::string& path) const;
    void RememberValues();

    // Null when the key is not defined.
    TValue GetValue(const std::string& name) const;
    TValue GetPreviousValue(const std::string& name) const;
    // False (and nothing changes) when the key is not defined.
    bool SetValue(const std::string& name, const TValue& value);

    // By index, for the name-based exchange with dialog controls; raise
    // std::out_of_range outside the list and EConvertError for a bad text.
    std::string GetAsText(int index) const;
    void SetAsText(int index, const std::string& text);
    int32_t GetAsInteger(int index) const;
    void SetAsInteger(int index, int32_t value);
    bool GetAsBoolean(int index) const;
    void SetAsBoolean(int index, bool value);

    // Changes with every change of a value, and differs between any two
    // lists: a reader that keeps what it read with it knows when to read
    // again without taking the lock.
    std::uint64_t Generation() const { return FGeneration.load(std::memory_order_acquire); }

private:
    mutable std::shared_mutex FLock;  // guards FOptions
    std::vector<TOption> FOptions;
    // Stamped under the exclusive lock before a change, read without a lock.
    std::atomic<std::uint64_t> FGeneration;

    void Stamp();

    int IndexOfLocked(const std::string& name) const;
    const TOption& At(int index) const;
    TOption& At(int index);
};
