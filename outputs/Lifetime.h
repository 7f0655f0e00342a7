#pragma once
// Work that another thread posts to the window's thread may arrive after the
// object it is for has gone. The object holds a CLifetime; the posted work
// carries a token of it and runs only while the object lives. Tokens are
// checked on the window's thread, where the object ends too.

#include <memory>

namespace tarvex {

class CLifetime {
public:
    class Token {
    public:
        bool Alive() const { return !m_alive.expired(); }

    private:
        friend class CLifetime;
        explicit Token(std::weak_ptr<const char> alive) : m_alive(std::move(alive)) {}
        std::weak_ptr<const char> m_alive;
    };

    Token Watch() const { return Token(m_alive); }
    // No token is alive from here on, before the owner's members go.
    void End() { m_alive.reset(); }

private:
    std::shared_ptr<const char> m_alive = std::make_shared<const char>(0);
};

}  // namespace tarvex
