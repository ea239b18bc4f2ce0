#pragma once
// The folder each kind of file dialog used last, remembered between runs,
// so that a dialog whose field is empty opens where the user last looked
// for that kind of file.

#include <cstdint>
#include <string>

// The start of the dialog for the field: its text when it has one (the
// dialogs start from what the field shows), else the folder remembered for
// the field's kind of file with a closing "/", else empty.
std::string DialogStart(uint32_t field_id, const std::string& field_text);
// Remembers the folder of a path the user chose for the field.
void RememberDialogFolder(uint32_t field_id, const std::string& chosen);
