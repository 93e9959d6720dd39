#pragma once

class QDialog;

// Showing a window modally goes through here, so a test can step in where a
// person would use the window, and return when it is closed.
class ModalRunner
{
public:
    virtual ~ModalRunner() = default;
    // Shows the dialog modally and returns when it has been closed.
    virtual int showModal(QDialog &dialog) = 0;
};

class ExecModalRunner : public ModalRunner
{
public:
    int showModal(QDialog &dialog) override;
};
