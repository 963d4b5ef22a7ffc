#pragma once
// Reading the pictures of a stack in the background: a worker per core takes the cards in the
// order given, reads each picture of a card and turns the lines into the suggested boxes. Nothing
// is written anywhere: what becomes of a card is the user's (or the command's) choice.

#include "intakestack.h"
#include "scanreader.h"

#include <QMutex>
#include <QObject>

#include <atomic>
#include <thread>
#include <vector>

namespace intake {

// What the reading suggests for one card.
struct CardReading {
    bool done = false;
    scan::BoxTexts boxes;  // the suggestions; a box with text is a suggested box
    QString error;         // a picture that could not be read, for the user
};

// The boxes of a card from the readings of its pictures in order: the front's lines fill the
// boxes, the back's only the boxes the front left empty, except その他, which gathers the contact
// lines of both sides (each once).
scan::BoxTexts suggestionsFor(const std::vector<scan::ScanResult>& sides);

// Reads one card's pictures in the folder on the calling thread.
CardReading readCard(const QString& folder, const StackCard& card, scan::ScanProgress& progress);

class StackReader final : public QObject {
    Q_OBJECT
public:
    // workers: how many cards are read at once; 0 for one per core.
    StackReader(QString folder, QList<StackCard> cards, int workers = 0);
    ~StackReader() override;  // cancels and waits for the workers
    StackReader(const StackReader&) = delete;
    StackReader& operator=(const StackReader&) = delete;

    // Starts reading the cards whose `wanted` flag is set (all when empty).
    void start(const QList<bool>& wanted = {});
    // Stops: cards being read are given up, no new one is begun. Returns at once.
    void cancel();
    // Waits for every worker to end.
    void wait();

    int total() const { return m_wantedCount; }
    int readCount() const { return m_read.load(); }
    bool cancelled() const { return m_progress.cancel.load(); }
    bool finished() const { return m_running.load() == 0; }
    CardReading reading(int index) const;

signals:
    // A card's reading is ready (from a worker thread: connect queued to use it in a window).
    void cardRead(int index);
    // Every worker has ended, after the last cardRead.
    void allRead();

private:
    void work();

    QString m_folder;
    QList<StackCard> m_cards;
    QList<bool> m_wanted;
    int m_wantedCount = 0;
    int m_workers;
    mutable QMutex m_mutex;
    QList<CardReading> m_readings;
    std::atomic<int> m_next{0};
    std::atomic<int> m_read{0};
    std::atomic<int> m_running{0};
    scan::ScanProgress m_progress;
    std::vector<std::thread> m_threads;
};

}  // namespace intake
