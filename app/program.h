#pragma once
// The program over one card folder: the database module and the windows, made once at start-up
// and handed to each other as references. Nothing else holds them.

#include "cardmatch.h"

#include <memory>

struct CardFolder;
class CardDatabase;
class CardEditorWindow;
class CardListWindow;
class MainMenuWindow;
class VersionWindow;

class Program final {
public:
    // Makes the database module and the main menu, then connects (a failure is shown in the
    // error box and the program comes up all the same; an open that takes long shows the
    // waiting window), then, as the main menu's children, the version window, the card editor
    // and the card list. When the user stopped the open with 中止 (or the program is being
    // ended), the windows after the main menu are not made: opened() is false. Shows nothing.
    explicit Program(const CardFolder& folder);
    // Destroys the windows, then the database module, which commits pending work.
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    Program(Program&&) = delete;
    Program& operator=(Program&&) = delete;

    bool opened() const { return m_opened; }
    CardDatabase* database() const { return m_database.get(); }
    MainMenuWindow* mainMenu() const { return m_mainMenu.get(); }
    CardEditorWindow* cardEditor() const { return m_cardEditor; }
    CardListWindow* cardList() const { return m_cardList; }
    VersionWindow* versionWindow() const { return m_versionWindow; }
    // How the card list searches; read from the user's settings at start, switched by the menu.
    search::SearchOptions& searchOptions() { return m_searchOptions; }

private:
    search::SearchOptions m_searchOptions;
    std::unique_ptr<CardDatabase> m_database;
    std::unique_ptr<MainMenuWindow> m_mainMenu;
    // Children of the main menu, which destroys them with itself.
    VersionWindow* m_versionWindow = nullptr;
    CardEditorWindow* m_cardEditor = nullptr;
    CardListWindow* m_cardList = nullptr;
    bool m_opened = true;
};
