#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CTqk5820ConfigDoc;
class Clock;
class Profile;
class UserPrompts;

// The production access check in front of calibration and diagnostics,
// without a window system: who works (a user name of at least two words,
// remembered in the profile), whether the instrument grants access (the
// password goes to the instrument as its access word, parameter 54, and the
// word read back tells), and the instrument's serial number (parameter 55),
// proposed from a counter in the profile for an instrument that still
// carries the blank serial.
//
// Every loop that waits for the instrument runs the configuration
// document's service step, shows the wait cursor and ends when the
// instrument goes offline (or, should it stay online without answering,
// after kLoopLimitSeconds).
class ProductionAccess {
public:
    static const char* const kProfileSection;      // "Production"
    static const char* const kMasterSerialKey;     // "sMasterSerialNum"
    static const char* const kLastUserKey;         // "sLastUserName"
    static const char* const kDefaultMasterSerial; // "0E0A2850"
    static const char* const kBlankSerial;         // " CALLKV "
    static constexpr int kSerialLength = 8;
    static constexpr int kFillerLength = 7;
    static constexpr int kRejectSeconds = 10;
    static constexpr int kLoopLimitSeconds = 15;

    ProductionAccess(CTqk5820ConfigDoc& document, Profile& profile, UserPrompts& prompts, Clock& clock);

    // What the wait after a rejected password does between two looks at the
    // clock; by default the document's wait for its line. That wait needs
    // nothing from the instrument: the window program lets every window,
    // this controller's too, go on meanwhile.
    void SetPause(std::function<void()> pause) { pause_ = std::move(pause); }

    // The master-last number plus one: its first four characters, then the
    // value of its last four (leading digits, 0 without) plus one as "%04d".
    static std::string NextSerialNumber(const std::string& master);
    // Exactly 8 characters, the first not a blank.
    static bool IsWellFormedSerial(const std::string& serial);
    // Maximal runs of characters other than the blank.
    static int CountWords(const std::string& text);
    // The password padded with "0" or cut to 8 characters.
    static std::string AccessText(const std::string& password);
    // "Please enter no more than 8 characters."
    static std::string MaxCharsText();

    // Opening: the profile's master-last number and last user name, then
    // the instrument's serial number and access word. An instrument that is
    // still unlocked needs no password: the password field gets a filler.
    void Open();

    // The fields' contents taken into the dialog. With `check`, a serial
    // number longer than 8 characters is refused with MaxCharsText() (false);
    // the contents are taken either way.
    bool TakeFields(const std::string& userName, const std::string& password, const std::string& serial,
                    bool check = true);
    // Entering the serial-number field: an instrument with the blank serial
    // is proposed the next number. True when the field's text changed.
    bool EnterSerialField();
    // The Update button: a well-formed serial number becomes the master-last
    // number in the profile. False (nothing stored) otherwise.
    bool Update();
    // The OK button, on the fields taken: the user name, then the password
    // (unless the instrument has granted access already), then the serial
    // number, which is written when it differs from the instrument's. True
    // when the dialog may close with OK; otherwise the first failure has
    // been shown and the dialog stays open.
    bool Ok();
    // What the status bar says after "ERROR - Serial Number format": how to
    // get a number for a unit with the blank serial, or what a number is.
    std::string SerialNumberHint() const;

    const std::string& UserName() const { return userName_; }
    const std::string& Password() const { return password_; }
    const std::string& SerialNumber() const { return serial_; }
    bool SerialWritten() const { return serialWritten_; }
    bool PasswordValid() const { return passwordValid_; }
    const std::string& MasterLastNumber() const { return masterLast_; }
    const std::string& InstrumentSerial() const { return instrumentSerial_; }

private:
    // Runs service steps until `done` holds (true), the instrument is
    // offline or the loop limit has passed (false). `done` is asked first.
    bool ServiceUntil(const std::function<bool()>& done);
    // Writes p and waits until it has no command in flight; false when the
    // write was never accepted.
    bool WriteAndWait(int p, const std::string& text);
    bool CheckPassword();

    CTqk5820ConfigDoc& doc_;
    Profile& profile_;
    UserPrompts& prompts_;
    Clock& clock_;
    std::function<void()> pause_;

    std::string password_;
    std::string userName_;
    std::string serial_;
    bool serialWritten_ = false;
    bool passwordValid_ = false;
    std::string masterLast_;
    std::string instrumentSerial_;
};
