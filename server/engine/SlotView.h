#pragma once

#include <QString>
#include <cstdint>

// How far a slot's transfer has got: the bytes sent or stored so far and,
// for a read, the size of the file (a store's size is not known).
struct SlotProgress {
    bool bRead = false;
    uint64_t nTotal = 0;
    uint64_t nDone = 0;
};

// What the engine tells the progress view about its slots (1 to 5), each
// call carrying what the row shows, in the order things happen.
class CSlotView {
public:
    virtual void SlotFreed(int nSlot) = 0;
    virtual void ClientArrived(int nSlot, const QString& strAddress) = 0;
    // The file's name (or why the request was refused), its mode and
    // direction as the server sees it.
    virtual void TransferDetails(int nSlot, const QString& strFile, bool bBinary,
                                 bool bSending) = 0;
    virtual void TransferProgress(int nSlot, const SlotProgress& progress) = 0;
    virtual void Retransmitted(int nSlot) = 0;

protected:
    ~CSlotView() = default;
};
