// The object properties window's side in the program: filling it from the
// selected object, reading it back, owner names and the window's place.
#pragma once

#include <cstdint>
#include <string>

#include "platform/object_window.h"

namespace zk {

struct object;

// Opens the window where it was when [layout] object is 1.
void pdialog_init();
// Writes a moved window's place, at most once a second.
void pdialog_update();

// Shows the object's texts, owner, owner name and time built, remembers
// the four texts and enables the window.
void pdialog_fill(const object* o);
// Empties and disables the window.
void pdialog_clear();
ObjectFields pdialog_fields();
// The texts as they were when the window was filled.
const ObjectFields& pdialog_remembered();
// Puts the remembered texts back into the fields.
void pdialog_restore();

// The Show menu's item: shows or hides the window and keeps the choice.
void pdialog_toggle();
// From the window: the user closed it (which also ends the selection), or
// moved it to (x, y) of the screen.
void pdialog_closed();
void pdialog_moved(int x, int y);

// Owner names: the own name, a cached one, or "" while the universe is
// asked (its answer then fills the window if the owner is still shown).
std::string pdialog_owner_name(uint32_t number);
void pdialog_citizen_name(uint32_t number, int rc, const std::string& name);
// "Tue Mar 5, 2024 3:07 PM" in local time; "" for 0.
std::string pdialog_time_text(uint32_t timestamp);

// Names kept at most, and lookups waiting at most.
constexpr size_t pdialog_name_limit = 1000;
constexpr size_t pdialog_lookup_limit = 32;

}  // namespace zk
