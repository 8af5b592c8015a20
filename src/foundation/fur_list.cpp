#include "foundation/fur_list.h"

FurList::~FurList() {
    clear();
}

std::uint64_t FurList::append(std::uint64_t value) {
    Node* node = new Node{value, nullptr, tail_};
    if (tail_ != nullptr)
        tail_->next = node;
    else
        head_ = node;
    tail_ = node;
    ++count_;
    return value;
}

std::uint64_t FurList::removeLast() {
    Node* node = tail_;
    if (node == nullptr) return 0;
    std::uint64_t value = node->value;
    tail_ = node->previous;
    if (tail_ != nullptr)
        tail_->next = nullptr;
    else
        head_ = nullptr;
    // A cursor on the removed node would dangle: it ends the walk instead.
    if (cursor_ == node) cursor_ = nullptr;
    delete node;
    --count_;
    return value;
}

void FurList::clear() {
    Node* node = head_;
    while (node != nullptr) {
        Node* following = node->next;
        delete node;
        node = following;
    }
    head_ = tail_ = cursor_ = nullptr;
    count_ = 0;
}

std::uint64_t FurList::first() {
    if (head_ == nullptr) {
        cursor_ = nullptr;
        return 0;
    }
    cursor_ = head_->next;
    return head_->value;
}

std::uint64_t FurList::next() {
    if (cursor_ == nullptr) return 0;
    std::uint64_t value = cursor_->value;
    cursor_ = cursor_->next;
    return value;
}

std::uint64_t FurList::last() {
    if (tail_ == nullptr) {
        cursor_ = nullptr;
        return 0;
    }
    cursor_ = tail_->previous;
    return tail_->value;
}

std::uint64_t FurList::previous() {
    if (cursor_ == nullptr) return 0;
    std::uint64_t value = cursor_->value;
    cursor_ = cursor_->previous;
    return value;
}

std::uint64_t FurList::at(int i) const {
    if (i < 0 || i >= count_) return 0;
    const Node* node = head_;
    while (i-- > 0) node = node->next;
    return node->value;
}
