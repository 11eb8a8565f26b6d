#pragma once

namespace tavik {

// Sets a variable for the length of a scope and puts the old value back at its end.
// release() puts it back at once; the end then does nothing.
template <typename T>
class fixer {
public:
    fixer(T& variable, T value) : variable(&variable), saved(variable) { variable = value; }
    ~fixer() { release(); }
    fixer(const fixer&) = delete;
    fixer& operator=(const fixer&) = delete;

    void release() {
        if (variable) {
            *variable = saved;
            variable = nullptr;
        }
    }

private:
    T* variable;
    T saved;
};

}  // namespace tavik
