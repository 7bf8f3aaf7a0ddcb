#pragma once
// The program's own values under its key in the settings store: "ProMode", which switches the
// expert mode on when it holds the access code and is only ever read, and in expert mode
// "BlockSize" and "Port", read at start-up and written at exit. Each operation reads or writes
// one value; a value of the wrong type raises, as the store does. "ShowRoundTrip", in every mode,
// remembers whether the chart draws the round-trip line; "KeepRuns" and the contract's rates serve
// the history.

#include <QString>

#include <cstdint>

#include "base/direction.h"
#include "settings/reg_ini_file.h"

class TProgramSettings {
 public:
  static inline const QString Key = QStringLiteral("Software\\Omvra-Soft\\KORVADEN");
  static constexpr std::int32_t ExpertAccessCode = 5594;

  // Opens the key, creating it where it is missing.
  TProgramSettings() : FStore(Key) {}

  bool ExpertMode();
  std::int32_t BlockSize(std::int32_t fallback);
  // As stored, also out of range: the caller shows it but uses only a valid port.
  std::int32_t Port(std::int32_t fallback);

  // "1" receives; anything else, a missing value or one of another type, sends.
  TDirection Direction();
  void WriteDirection(TDirection direction);

  // What the expert fields hold at exit, block size first. A text that is no integer raises and
  // ends the writing; a port out of range is not kept, the one in force is.
  void WriteExpertFields(const QString& blockSizeText, const QString& portText, std::int32_t portInForce);

  // Switches the expert mode on for the next start, as a user does by hand.
  void EnableExpertMode();

  // "1" shows the round-trip line. A missing value, any other text and data of another type leave
  // it off without a word: a view option is not worth an error box at start-up.
  bool ShowRoundTrip();
  // "1" or "0". A line that was never shown leaves no value behind: "0" only replaces a stored one,
  // so that a user who never asked for the line finds the key as before.
  void WriteShowRoundTrip(bool shown);

  // "KeepRuns": "1" keeps every single measurement in the history as well as the line tests; any
  // other text, a missing value or data of another type leaves it off. Written as the round-trip
  // switch is.
  bool KeepRuns();
  void WriteKeepRuns(bool kept);

  // The contract's rates in Mbit/s as decimal text with a point, "" for none, under the names below
  // ("ContractDownloadMax" … "ContractUploadMin"). A value of another type reads as none.
  static inline const QString ContractRateNames[6] = {
      QStringLiteral("ContractDownloadMax"),  QStringLiteral("ContractDownloadNormal"),
      QStringLiteral("ContractDownloadMin"),  QStringLiteral("ContractUploadMax"),
      QStringLiteral("ContractUploadNormal"), QStringLiteral("ContractUploadMin")};
  QString ContractRate(const QString& name);
  void WriteContractRate(const QString& name, const QString& text);

 private:
  bool IsOne(const QString& name);
  // "1" or "0"; "0" only replaces a stored value, so a switch never used leaves nothing behind.
  void WriteSwitch(const QString& name, bool on);
  TRegIniFile FStore;
};
