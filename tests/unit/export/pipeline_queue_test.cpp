// The queue between pipeline threads: how closing and cancelling end the
// waits of producers and consumers, and how a timed wait tells its ends apart.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "export/bounded_queue.hpp"

namespace quilbex::exporting {
namespace {

TEST(PipelineQueue, ClosedQueueIsDrainedInOrderThenEmpty) {
    BoundedQueue<int> queue(3);
    ASSERT_TRUE(queue.push(1));
    ASSERT_TRUE(queue.push(2));
    queue.close();
    EXPECT_FALSE(queue.push(3));
    EXPECT_EQ(queue.pop(), 1);
    EXPECT_EQ(queue.pop(), 2);
    EXPECT_EQ(queue.pop(), std::nullopt);
}

TEST(PipelineQueue, CancelDropsItemsAndWakesAWaitingProducer) {
    BoundedQueue<int> queue(1);
    ASSERT_TRUE(queue.push(1));
    bool pushed = true;
    std::thread producer([&] { pushed = queue.push(2); });
    queue.cancel();
    producer.join();
    EXPECT_FALSE(pushed);
    EXPECT_EQ(queue.pop(), std::nullopt);
}

TEST(PipelineQueue, CloseWakesAWaitingConsumer) {
    BoundedQueue<int> queue(1);
    std::optional<int> popped = 0;
    std::thread consumer([&] { popped = queue.pop(); });
    queue.close();
    consumer.join();
    EXPECT_EQ(popped, std::nullopt);
}

TEST(PipelineQueue, ProducerWaitsForRoomAndItemsStayInOrder) {
    BoundedQueue<int> queue(2);
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i) queue.push(i);
        queue.close();
    });
    int expected = 0;
    while (const auto item = queue.pop()) EXPECT_EQ(*item, expected++);
    producer.join();
    EXPECT_EQ(expected, 100);
}

TEST(PipelineQueue, TimedPopTellsTimeoutFromItemAndFromEnd) {
    BoundedQueue<int> queue(2);
    const auto empty = queue.popFor(std::chrono::milliseconds(1));
    EXPECT_TRUE(empty.timedOut);
    EXPECT_EQ(empty.item, std::nullopt);

    ASSERT_TRUE(queue.push(7));
    const auto item = queue.popFor(std::chrono::milliseconds(1));
    EXPECT_FALSE(item.timedOut);
    EXPECT_EQ(item.item, 7);

    queue.close();
    const auto end = queue.popFor(std::chrono::hours(1));
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.item, std::nullopt);
}

}  // namespace
}  // namespace quilbex::exporting
