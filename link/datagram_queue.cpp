#include "link/datagram_queue.h"

#include <algorithm>

namespace vantoro {

std::size_t DatagramQueue::DrainPush(const QueuedDatagram* items, std::size_t n, std::size_t received)
{
    std::size_t dropped = 0;
    do {
        BlockPtr block = DrainTakeBlock();
        block->count = std::min(n, kBlock);
        for (std::size_t i = 0; i < block->count; ++i)
            block->items[i] = {items[i].bytes, items[i].interface_index, items[i].source_address};
        items += block->count;
        n -= block->count;
        // The whole receive counts toward a burst once, with its first block.
        dropped += DrainPush(std::move(block), received);
        received = 0;
    } while (n > 0);
    return dropped;
}

DatagramQueue::BlockPtr DatagramQueue::DrainTakeBlock()
{
    {
        std::lock_guard lock(mutex_);
        if (!spares_.empty()) {
            BlockPtr block = std::move(spares_.back());
            spares_.pop_back();
            block->count = block->head = 0;
            return block;
        }
    }
    return BlockPtr(new Block); // default-initialised: the slots stay as they are
}

void DatagramQueue::DrainPrepareSpares()
{
    std::vector<BlockPtr> made(kSpareBlocks);
    for (BlockPtr& block : made) {
        block.reset(new Block);
        // One write per page maps it.
        auto* bytes = reinterpret_cast<volatile unsigned char*>(block.get());
        for (std::size_t at = 0; at < sizeof(Block); at += 4096)
            bytes[at] = 0;
    }
    std::lock_guard lock(mutex_);
    for (BlockPtr& block : made)
        if (spares_.size() < kSpareBlocks)
            spares_.push_back(std::move(block));
}

std::size_t DatagramQueue::DrainPush(BlockPtr block, std::size_t received)
{
    const std::size_t n = block ? block->count : 0;
    std::size_t taken;
    {
        std::lock_guard lock(mutex_);
        const std::size_t waiting = size_;
        taken = std::min(n, capacity_ - std::min(capacity_, waiting));
        size_ += taken;
        if (taken > 0) {
            block->count = taken; // what does not fit is dropped: the latest
            block->head = 0;
            blocks_.push_back(std::move(block));
        } else if (block && spares_.size() < kSpareBlocks) {
            spares_.push_back(std::move(block));
        }
        if (!policy_.DrainQueued(received, waiting, size_))
            return n - taken;
    }
    ready_.notify_one();
    return n - taken;
}

bool DatagramQueue::DrainFoundSocketEmpty()
{
    // In a burst the socket running empty for a moment is no end to it, and
    // the drain takes no lock to find that out.
    if (policy_.DrainInBurst())
        return false;
    {
        std::lock_guard lock(mutex_);
        policy_.DrainFoundSocketEmpty();
        if (size_ == 0)
            return true;
    }
    ready_.notify_one();
    return true;
}

void DatagramQueue::DrainSawQuietGap()
{
    {
        std::lock_guard lock(mutex_);
        policy_.DrainSawQuietGap();
        if (size_ == 0)
            return;
    }
    ready_.notify_one();
}

bool DatagramQueue::DispatcherPop(QueuedDatagram& out)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (closed_)
            return false;
        if (size_ == 0) {
            ready_.wait(lock);
            continue;
        }
        DrainDispatchPolicy::Clock::time_point until;
        if (policy_.DispatcherMayTake(size_, &until))
            break;
        ready_.wait_until(lock, until);
    }
    policy_.DispatcherTook();
    Block& front = *blocks_.front();
    const Block::Slot& slot = front.items[front.head++];
    out.bytes = slot.bytes;
    out.interface_index = slot.interface_index;
    out.source_address = slot.source_address;
    --size_;
    if (front.head == front.count) {
        if (spares_.size() < kSpareBlocks)
            spares_.push_back(std::move(blocks_.front()));
        blocks_.pop_front();
    }
    return true;
}

void DatagramQueue::Close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

void DatagramQueue::Open()
{
    std::lock_guard lock(mutex_);
    blocks_.clear();
    blocks_.shrink_to_fit();
    spares_.clear();
    size_ = 0;
    closed_ = false;
    policy_.Reset();
}

std::size_t DatagramQueue::size()
{
    std::lock_guard lock(mutex_);
    return size_;
}

} // namespace vantoro
