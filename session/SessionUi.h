#pragma once
// What the session asks of the window: questions and notices in the user's
// words. The window shows them; tests answer them by recording.

#include <string>

#include "WeighingHost.h"

namespace tarvex {

class ISessionUi : public IUserPrompts {
public:
    // A notice the user closes before anything else goes on.
    virtual void Tell(const std::wstring& text) = 0;
};

}  // namespace tarvex
