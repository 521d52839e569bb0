// The object behavior language: what an object's action text does when the
// object is created, clicked, bumped into, and when one of its animations
// ends.
//
// An action text is clauses separated by ";": a trigger word ("create",
// "bump", "activate", "adone") then commands separated by ",". Action texts
// come from world servers, so the interpreter reads at most 255 characters,
// every read is bounded by the text, and numbers above 1e9 read as 1e9.
// The interpreter is not re-entrant: a run asked for while another is under
// way (a command's effect creating an object, say) does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

struct object;

enum class BehaviorTrigger { create, bump, activate, adone };

// The longest action text the interpreter reads; the rest is ignored.
constexpr size_t behavior_text_limit = 255;
// Queued commands beyond this many wait for nobody: they are refused.
constexpr size_t behavior_queue_limit = 64;
// Numbers read from action texts are held at this value.
constexpr double behavior_number_limit = 1e9;

// --- Tokens ----------------------------------------------------------------

enum class BehaviorTokenKind { end, word, number, plus, minus, comma, semicolon };
struct BehaviorToken {
    BehaviorTokenKind kind = BehaviorTokenKind::end;
    std::string text;     // the word (without its quotes), or the characters read
    double value = 0;     // numbers
    bool quoted = false;
};
// Every token of a text read as a command reads it: where `numbers`, a token
// that starts with a digit or "." is a number when it is one. Ends with the
// end token.
std::vector<BehaviorToken> behavior_tokens(std::string_view text, bool numbers);

// --- Running action texts ----------------------------------------------------

// The validation pass: the whole text is parsed without effect, and only
// sounds, animation textures and pictures outside create clauses are asked
// for ahead. 1 when the text is well formed.
int behavior_check(object* o);
// The first clause of the object's text for the trigger: 1 when it ran
// without error, 0 when none matched or an error stopped it.
int behavior_run(object* o, BehaviorTrigger trigger);

// The bindings of the live objects (ObjectHooks::action_check and
// action_create).
void behavior_action_check(object* o);
void behavior_action_create(object* o);
// The user clicked the object: its activate clause, else, for a text that
// is one bare address, that address opened as a web page.
void behavior_activate(object* o);
// The user ran into the object (CollisionHooks::bump).
void behavior_bump(object* o);
// An animation of the object that does not loop ended (AnimationHooks::adone).
void behavior_adone(object* o);

// A command handed in without an object (the Teleport dialog, the web pane,
// a request file); only its first command runs, at the next frame. False
// when the queue is full.
bool behavior_queue(std::string_view text);
size_t behavior_queued();
// The task: runs one queued command.
void behavior_update();
// Empties the queue.
void behavior_reset();

// What commands do through modules that come later. An unset hook does
// nothing. `execute` is false in the validation pass (fetch ahead only).
struct BehaviorHooks {
    void (*sound)(object* o, const std::string& file, bool execute) = nullptr;
    void (*noise)(const std::string& file, bool execute) = nullptr;
    void (*url)(const std::string& address, bool from_create) = nullptr;
    // `o` null: the picture is prepared without a target.
    void (*picture)(object* o, const std::string& address, int update_seconds, bool execute) = nullptr;
    void (*avatars)(bool shown) = nullptr;
    // Records the current place in the teleport history.
    void (*history_push)() = nullptr;
};
BehaviorHooks& behavior_hooks();

}  // namespace zk
