// One operation's state: everything a read or a write keeps from one
// selector call to the next, in one object. It is made at the operation's
// first selector, kept in the handle the host keeps for the module (the
// PluginState's `operation`), and released at its end, on any error that
// ends it, or when the host starts another operation in the same cell
// without finishing this one. Nothing of an operation lives anywhere else,
// so two documents in flight at once (each with its own cell) never meet.
#pragma once

#include <cstdint>

#include "header/card_buffer.h"
#include "shell/module_memory.h"
#include "shell/plugin_state.h"

namespace nebulite {

class Operation {
public:
    enum class Kind : uint8_t { read, write };

    explicit Operation(Kind kind) : kind_(kind) {}
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    virtual ~Operation() = default;

    Kind kind() const { return kind_; }

    // The header text of the file being read or written.
    CardBuffer header;

private:
    Kind kind_;
};

// Releases the cell's operation, if any.
inline void endOperation(PluginState& state) {
    moduleDelete(state.operation);
    state.operation = nullptr;
}

// The cell's operation when it is of kind T (ReadOperation, WriteOperation),
// else null.
template <typename T>
T* operationAs(PluginState& state) {
    if (state.operation == nullptr || state.operation->kind() != T::kKind) return nullptr;
    return static_cast<T*>(state.operation);
}

// Ends whatever operation the cell holds and makes a new T in its place;
// null, with memFullErr recorded, when there is no memory for it.
template <typename T>
T* beginOperation(PluginState& state) {
    endOperation(state);
    T* operation = moduleNew<T>(nebuliteAllocOperation);
    if (operation == nullptr) {
        recordError(state, memFullErr);
        return nullptr;
    }
    state.operation = operation;
    return operation;
}

}  // namespace nebulite
