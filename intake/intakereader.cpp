#include "intakereader.h"

#include "scanreader.h"

#include <QDir>
#include <QMutexLocker>

#include <algorithm>

namespace intake {

namespace {

std::vector<scan::Choice> choicesOf(const scan::ScanResult& result) {
    std::vector<scan::Choice> choices;
    for (std::size_t i = 0; i < result.lines.size() && i < result.boxes.size(); ++i) {
        if (result.boxes[i] != scan::Box::None)
            choices.push_back({result.boxes[i], result.lines[i].text});
    }
    return choices;
}

}  // namespace

scan::BoxTexts suggestionsFor(const std::vector<scan::ScanResult>& sides) {
    scan::BoxTexts boxes;
    for (const scan::ScanResult& side : sides) {
        const scan::BoxTexts own = scan::applyChoices({}, choicesOf(side), false);
        const QString otherBefore = boxes.other;
        boxes = scan::applyChoices(boxes, choicesOf(side), false);
        // The contact lines of the back (an English side's telephone, say) join the front's.
        if (!otherBefore.isEmpty()) {
            QStringList lines = otherBefore.split(QLatin1Char('\n'));
            for (const QString& line : own.other.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                if (!lines.contains(line))
                    lines << line;
            }
            boxes.other = lines.join(QLatin1Char('\n'));
        }
    }
    return boxes;
}

CardReading readCard(const QString& folder, const StackCard& card, scan::ScanProgress& progress) {
    CardReading reading;
    std::vector<scan::ScanResult> sides;
    QStringList failed;
    for (const QString& picture : card.pictures) {
        try {
            scan::ScanResult r = scan::readScan(QDir(folder).filePath(picture), progress);
            if (r.cancelled)
                return reading;
            sides.push_back(std::move(r));
        } catch (const scan::ScanError& e) {
            failed << QString::fromUtf8(e.what());
        }
    }
    reading.boxes = suggestionsFor(sides);
    reading.error = failed.join(QLatin1Char('\n'));
    reading.done = true;
    return reading;
}

StackReader::StackReader(QString folder, QList<StackCard> cards, int workers)
    : m_folder(std::move(folder)),
      m_cards(std::move(cards)),
      m_workers(workers > 0 ? workers : int(std::max(1U, std::thread::hardware_concurrency()))) {
    m_readings.resize(m_cards.size());
}

StackReader::~StackReader() {
    cancel();
    wait();
}

void StackReader::start(const QList<bool>& wanted) {
    m_wanted = wanted;
    m_wanted.resize(m_cards.size(), wanted.isEmpty());
    m_wantedCount = int(std::count(m_wanted.begin(), m_wanted.end(), true));
    const int workers = std::min(m_workers, std::max(1, m_wantedCount));
    m_running = workers;
    for (int i = 0; i < workers; ++i)
        m_threads.emplace_back([this] { work(); });
}

void StackReader::cancel() {
    m_progress.cancel = true;
}

void StackReader::wait() {
    for (std::thread& t : m_threads) {
        if (t.joinable())
            t.join();
    }
    m_threads.clear();
}

CardReading StackReader::reading(int index) const {
    const QMutexLocker lock(&m_mutex);
    return m_readings.value(index);
}

void StackReader::work() {
    for (;;) {
        const int index = m_next.fetch_add(1);
        if (index >= m_cards.size() || m_progress.cancel)
            break;
        if (!m_wanted[index])
            continue;
        CardReading r;
        try {
            r = readCard(m_folder, m_cards[index], m_progress);
        } catch (const std::exception& e) {
            // The engine could not start (its models missing): every card says so.
            r.error = QString::fromUtf8(e.what());
            r.done = true;
        }
        if (!r.done)
            break;  // cancelled
        {
            const QMutexLocker lock(&m_mutex);
            m_readings[index] = r;
        }
        ++m_read;
        emit cardRead(index);
    }
    if (--m_running == 0)
        emit allRead();
}

}  // namespace intake
