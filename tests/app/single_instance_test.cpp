#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>

#include "app/single_instance.h"
#include "support/temp_dir.h"

// A first instance in a temporary runtime folder: a client that stays silent and requests that
// are not ours reach it before second launches ask it to reopen, with and without a token.
TEST(SingleInstanceTest, OnlyAReopenRequestReopensAndASilentClientHoldsNothingUp) {
    TempDir temp;
    const QString folder = QString::fromStdString(temp.path().string());
    SingleInstance first(folder);
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    QSignalSpy reopens(&first, &SingleInstance::reopenRequested);
    QLocalSocket silent;
    silent.connectToServer(first.socketPath());
    ASSERT_TRUE(silent.waitForConnected(1000));
    for (const QByteArray& request :
         {QByteArray("hello\n"), QByteArray("reopening\n"), QByteArray("REOPEN\n"),
          QByteArray("reopen bad\x01token\n"), "reopen " + QByteArray(6000, 'a') + "\n",
          QByteArray(10000, 'x')}) {
        QLocalSocket client;
        client.connectToServer(first.socketPath());
        ASSERT_TRUE(client.waitForConnected(1000));
        client.write(request);
        // Once the instance has hung up on it.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return client.state() == QLocalSocket::UnconnectedState;
        })) << request.left(20).toStdString();
    }
    ASSERT_TRUE(reopens.isEmpty());
    for (const QByteArray& token : {QByteArray(), QByteArray("gnome-shell/Zorvant/2417-1-h_T5")}) {
        SingleInstance second(folder);
        ASSERT_EQ(second.claim(), SingleInstance::Role::secondary);
        EXPECT_TRUE(second.sendReopen(token));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !reopens.isEmpty(); }));
        EXPECT_EQ(reopens.takeFirst()[0].toByteArray(), token);
    }
    // Served while the silent one was still waiting, not after it was given up on.
    EXPECT_EQ(silent.state(), QLocalSocket::ConnectedState);
}
