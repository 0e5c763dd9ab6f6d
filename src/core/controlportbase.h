#pragma once

// The IO board outputs as every subsystem reaches them through gpControlIO,
// without linking the IO link itself. ControlPort (the application's IO link)
// implements it; tests may install a recording stand-in.
class ControlPortBase
{
public:
    virtual ~ControlPortBase() = default;

    // Changes the wanted state of one output (non-zero = on).
    virtual void IOSetOut(int output, int state) = 0;
    // Publishes the wanted output word to the IO thread at once.
    virtual void IOFlashOut() = 0;
};
