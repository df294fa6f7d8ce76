// The rules of the option and edit handlers that both programs' main
// windows follow alike, over the controls each window hands in.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>

namespace station {

// The volume label and the file-system choice are usable with the format
// step on, and the partition step follows the format step.
void FormatCheckedRule(const QCheckBox* format, QWidget* label, QWidget* fileSystem, QCheckBox* partition);

// The verification group shows with its box; turning it on turns the
// identity update off.
void VerifyBoxRule(const QCheckBox* verify, QCheckBox* identityUpdate, QWidget* verifyGroup);

// Two boxes of which at most one is checked: checking `sender` unchecks
// `other`.
void ExclusiveBoxRule(const QCheckBox* sender, QCheckBox* other);

// A string-source box, while shown and usable, decides whether its edits
// may be typed in; otherwise they may.
void SourceBoxRule(const QCheckBox* box, std::initializer_list<QWidget*> edits);

// A FAT32 volume label holds 11 characters: with FAT32 chosen a longer one
// is cut, with the message saying so.
void Fat32LabelRule(int32_t fileSystem, QLineEdit* label);

// An edit holds at most `limit` characters: a longer text is cut, the caret
// put at its end.
void LimitEditRule(QLineEdit* edit, int limit);

// The "RD Version" box: without MPVersion it stays checked and nothing is
// locked; unchecked, `lock` runs; checked, the password is asked for and
// `unlock` runs when it is given, else the box is unchecked (and so locks)
// as soon as the event that checked it has been handled.
void RdCheckRule(QCheckBox* box, int32_t mpVersion, std::string_view password, const std::function<void()>& lock,
                 const std::function<void()>& unlock);

// Key filters ('\r' Enter, '\b' Backspace; 0 drops the key).
// Hexadecimal digits, letters upper-cased, up to 'Z' with `aToZ`; control
// keys pass.
char HexKeyRule(char key, bool aToZ);
// Digits and control keys.
char DigitKeyRule(char key);
// Digits and Backspace.
char CountKeyRule(char key);

}  // namespace station
