<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>ConsoleView</name>
    <message>
        <source>1 line</source>
        <translation>1 Zeile</translation>
    </message>
    <message>
        <source>%1 lines</source>
        <translation>%1 Zeilen</translation>
    </message>
    <message>
        <source>Server console</source>
        <translation>Serverkonsole</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Copy All</source>
        <translation>Alles kopieren</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
</context>
<context>
    <name>LaunchPreview</name>
    <message>
        <source>%1 is not found on PATH. Play cannot start the game.</source>
        <translation>%1 wurde im PATH nicht gefunden. „Spielen“ kann das Spiel nicht starten.</translation>
    </message>
    <message>
        <source>%1 is not a program that can be run. Play cannot start the game.</source>
        <translation>%1 ist kein ausführbares Programm. „Spielen“ kann das Spiel nicht starten.</translation>
    </message>
    <message>
        <source>A single quote is not closed. Play cannot start the game.</source>
        <translation>Ein einfaches Anführungszeichen ist nicht geschlossen. „Spielen“ kann das Spiel nicht starten.</translation>
    </message>
    <message>
        <source>A double quote is not closed. Play cannot start the game.</source>
        <translation>Ein doppeltes Anführungszeichen ist nicht geschlossen. „Spielen“ kann das Spiel nicht starten.</translation>
    </message>
    <message>
        <source>A backslash ends the line. Play cannot start the game.</source>
        <translation>Die Zeile endet mit einem Backslash. „Spielen“ kann das Spiel nicht starten.</translation>
    </message>
    <message>
        <source>A null character cannot be passed on. Play cannot start the game.</source>
        <translation>Ein Nullzeichen kann nicht weitergegeben werden. „Spielen“ kann das Spiel nicht starten.</translation>
    </message>
    <message>
        <source>line %1</source>
        <translation>Zeile %1</translation>
    </message>
    <message>
        <source>Not used, not NAME=value with a name of letters, digits and _: %1</source>
        <translation>Nicht verwendet, da nicht NAME=Wert mit einem Namen aus Buchstaben, Ziffern und _: %1</translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>README.html</source>
        <comment>file name of the help page in this language</comment>
        <translation>README.de.html</translation>
    </message>
    <message>
        <source>The program %1 was not found.</source>
        <translation>Das Programm %1 wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Can&apos;t start Velmora</source>
        <translation>Velmora kann nicht gestartet werden</translation>
    </message>
    <message>
        <source>Please move the directory containing Velmora to a path that doesn&apos;t contain weird characters or start it manually.</source>
        <translation>Bitte verschieben Sie den Ordner mit Velmora an einen Pfad ohne ungewöhnliche Zeichen, oder starten Sie das Spiel von Hand.</translation>
    </message>
    <message>
        <source>Show server</source>
        <translation>Server anzeigen</translation>
    </message>
    <message>
        <source>The server keeps running without the launcher; start the launcher again to see it, or use velmora-server.</source>
        <translation>Der Server läuft ohne den Launcher weiter; starten Sie den Launcher erneut, um ihn zu sehen, oder benutzen Sie velmora-server.</translation>
    </message>
    <message>
        <source>The server host ended the connection: %1</source>
        <translation>Der Server-Host hat die Verbindung beendet: %1</translation>
    </message>
    <message>
        <source>%1 cannot be started: %2</source>
        <translation>%1 kann nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>The server host started, but does not answer</source>
        <translation>Der Server-Host ist gestartet, antwortet aber nicht</translation>
    </message>
    <message>
        <source>The server on %1 keeps running without the launcher.</source>
        <translation>Der Server auf %1 läuft ohne den Launcher weiter.</translation>
    </message>
</context>
<context>
    <name>LauncherInterface</name>
    <message>
        <source>No program on this desktop opens %1. Copy the path to open it yourself.</source>
        <translation>Auf diesem Desktop öffnet kein Programm %1. Kopieren Sie den Pfad, um es selbst zu öffnen.</translation>
    </message>
    <message>
        <source>Main settings scroll area</source>
        <translation>Bildlaufbereich der Haupteinstellungen</translation>
    </message>
    <message>
        <source>Server settings scroll area</source>
        <translation>Bildlaufbereich der Servereinstellungen</translation>
    </message>
    <message>
        <source>&amp;Clear Console</source>
        <translation>Konsole &amp;leeren</translation>
    </message>
    <message>
        <source>Clear the server console</source>
        <translation>Die Serverkonsole leeren</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>&amp;Löschen</translation>
    </message>
    <message>
        <source>Delete the selected text</source>
        <translation>Den markierten Text löschen</translation>
    </message>
    <message>
        <source>Delete the selected text, or clear the server console when it has the focus</source>
        <translation>Den markierten Text löschen oder, wenn die Serverkonsole den Fokus hat, die Konsole leeren</translation>
    </message>
    <message>
        <source>Your settings could not be saved to %1: %2. The launcher uses them until it quits.</source>
        <translation>Ihre Einstellungen konnten nicht in %1 gespeichert werden: %2. Der Launcher verwendet sie, bis er beendet wird.</translation>
    </message>
    <message>
        <source>The settings file %1 is not used: %2. The launcher starts with empty settings and writes nothing there until it quits.</source>
        <translation>Die Einstellungsdatei %1 wird nicht verwendet: %2. Der Launcher beginnt mit leeren Einstellungen und schreibt dort nichts, bis er beendet wird.</translation>
    </message>
    <message>
        <source>%1 is not saved: it is longer than the %2 characters a setting holds. The launcher goes on with the value saved before.</source>
        <translation>%1 wird nicht gespeichert: Der Text ist länger als die %2 Zeichen, die eine Einstellung fasst. Der Launcher verwendet weiter den zuvor gespeicherten Wert.</translation>
    </message>
</context>
<context>
    <name>LauncherWindow</name>
    <message>
        <source>Velmora</source>
        <translation>Velmora</translation>
    </message>
    <message>
        <source>Server settings</source>
        <translation>Servereinstellungen</translation>
    </message>
    <message>
        <source>Start or stop the server</source>
        <translation>Server starten oder stoppen</translation>
    </message>
    <message>
        <source>Main settings</source>
        <translation>Haupteinstellungen</translation>
    </message>
    <message>
        <source>&amp;Resolution:</source>
        <translation>&amp;Auflösung:</translation>
    </message>
    <message>
        <source>Resolution</source>
        <translation>Auflösung</translation>
    </message>
    <message>
        <source>Screen resolution the game starts with</source>
        <translation>Bildschirmauflösung, mit der das Spiel startet</translation>
    </message>
    <message>
        <source>F&amp;ull screen</source>
        <translation>&amp;Vollbild</translation>
    </message>
    <message>
        <source>Full screen</source>
        <translation>Vollbild</translation>
    </message>
    <message>
        <source>Start the game in full screen instead of a window</source>
        <translation>Das Spiel im Vollbild statt in einem Fenster starten</translation>
    </message>
    <message>
        <source>&amp;Anti-aliasing:</source>
        <translation>&amp;Kantenglättung:</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>2×</source>
        <translation>2×</translation>
    </message>
    <message>
        <source>4×</source>
        <translation>4×</translation>
    </message>
    <message>
        <source>8×</source>
        <translation>8×</translation>
    </message>
    <message>
        <source>Anti-aliasing</source>
        <translation>Kantenglättung</translation>
    </message>
    <message>
        <source>Full-scene anti-aliasing samples</source>
        <translation>Abtastwerte der Vollbild-Kantenglättung</translation>
    </message>
    <message>
        <source>&amp;Shaders:</source>
        <translation>&amp;Shader:</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>Niedrig</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>High</source>
        <translation>Hoch</translation>
    </message>
    <message>
        <source>Ultra</source>
        <translation>Ultra</translation>
    </message>
    <message>
        <source>Shaders</source>
        <translation>Shader</translation>
    </message>
    <message>
        <source>Shader quality level</source>
        <translation>Shader-Qualitätsstufe</translation>
    </message>
    <message>
        <source>E&amp;xtra options:</source>
        <translation>&amp;Zusatzoptionen:</translation>
    </message>
    <message>
        <source>Passed to the game, separated by spaces</source>
        <translation>Werden an das Spiel übergeben, durch Leerzeichen getrennt</translation>
    </message>
    <message>
        <source>Extra options</source>
        <translation>Zusatzoptionen</translation>
    </message>
    <message>
        <source>Extra game arguments separated by single spaces</source>
        <translation>Zusätzliche Spielargumente, durch einzelne Leerzeichen getrennt</translation>
    </message>
    <message>
        <source>&amp;Play</source>
        <translation>S&amp;pielen</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Spielen</translation>
    </message>
    <message>
        <source>Start the game with these settings</source>
        <translation>Das Spiel mit diesen Einstellungen starten</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Stop any running server and close the launcher</source>
        <translation>Einen laufenden Server stoppen und den Launcher schließen</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>&amp;Löschen</translation>
    </message>
    <message>
        <source>Velmora &amp;Help</source>
        <translation>Velmora-&amp;Hilfe</translation>
    </message>
    <message>
        <source>F1</source>
        <translation>F1</translation>
    </message>
    <message>
        <source>Launch &amp;with:</source>
        <translation>Starten &amp;mit:</translation>
    </message>
    <message>
        <source>A program that starts the game, e.g. gamemoderun</source>
        <translation>Ein Programm, das das Spiel startet, z. B. gamemoderun</translation>
    </message>
    <message>
        <source>Launch with</source>
        <translation>Starten mit</translation>
    </message>
    <message>
        <source>Program and arguments the game is started through; quote words with spaces as in a shell</source>
        <translation>Programm mit Argumenten, über das das Spiel gestartet wird; Wörter mit Leerzeichen wie in einer Shell in Anführungszeichen setzen</translation>
    </message>
    <message>
        <source>Launch with problem</source>
        <translation>Problem bei „Starten mit“</translation>
    </message>
    <message>
        <source>E&amp;nvironment:</source>
        <translation>&amp;Umgebung:</translation>
    </message>
    <message>
        <source>NAME=value, one per line</source>
        <translation>NAME=Wert, einer pro Zeile</translation>
    </message>
    <message>
        <source>Environment</source>
        <translation>Umgebung</translation>
    </message>
    <message>
        <source>Variables set for the game, one NAME=value per line</source>
        <translation>Variablen für das Spiel, eine NAME=Wert-Angabe pro Zeile</translation>
    </message>
    <message>
        <source>Environment problem</source>
        <translation>Problem bei der Umgebung</translation>
    </message>
    <message>
        <source>Command preview</source>
        <translation>Befehlsvorschau</translation>
    </message>
    <message>
        <source>The command Play runs in the Orvane directory, as a shell would accept it</source>
        <translation>Der Befehl, den „Spielen“ im Ordner Orvane ausführt, so wie eine Shell ihn annimmt</translation>
    </message>
    <message>
        <source>&amp;Copy command</source>
        <translation>Befehl k&amp;opieren</translation>
    </message>
    <message>
        <source>Copy command</source>
        <translation>Befehl kopieren</translation>
    </message>
    <message>
        <source>Puts the command shown above on the clipboard</source>
        <translation>Legt den oben gezeigten Befehl in die Zwischenablage</translation>
    </message>
    <message>
        <source>Co&amp;mmand:</source>
        <translation>Be&amp;fehl:</translation>
    </message>
</context>
<context>
    <name>ServerPaneForm</name>
    <message>
        <source>&amp;Description:</source>
        <translation>B&amp;eschreibung:</translation>
    </message>
    <message>
        <source>Server description</source>
        <translation>Serverbeschreibung</translation>
    </message>
    <message>
        <source>Name shown to players looking for a server</source>
        <translation>Name, den Spieler bei der Serversuche sehen</translation>
    </message>
    <message>
        <source>Pass&amp;word:</source>
        <translation>Pass&amp;wort:</translation>
    </message>
    <message>
        <source>Server password</source>
        <translation>Serverpasswort</translation>
    </message>
    <message>
        <source>Players must give this password to join; empty for none</source>
        <translation>Spieler brauchen dieses Passwort zum Beitreten; leer für keines</translation>
    </message>
    <message>
        <source>&amp;Client limit:</source>
        <translation>&amp;Spielerlimit:</translation>
    </message>
    <message>
        <source>No limit</source>
        <translation>Kein Limit</translation>
    </message>
    <message>
        <source>Client limit</source>
        <translation>Spielerlimit</translation>
    </message>
    <message>
        <source>Most players at once; No limit passes none</source>
        <translation>Höchstzahl gleichzeitiger Spieler; „Kein Limit“ übergibt keine</translation>
    </message>
    <message>
        <source>Server &amp;options:</source>
        <translation>Server&amp;optionen:</translation>
    </message>
    <message>
        <source>Passed to the server, separated by spaces</source>
        <translation>Werden an den Server übergeben, durch Leerzeichen getrennt</translation>
    </message>
    <message>
        <source>Server options</source>
        <translation>Serveroptionen</translation>
    </message>
    <message>
        <source>Extra server arguments separated by spaces</source>
        <translation>Zusätzliche Serverargumente, durch Leerzeichen getrennt</translation>
    </message>
    <message>
        <source>&amp;Use my text font in the console</source>
        <translation>&amp;Meine Textschrift in der Konsole verwenden</translation>
    </message>
    <message>
        <source>Use my text font in the console</source>
        <translation>Meine Textschrift in der Konsole verwenden</translation>
    </message>
    <message>
        <source>Draws the console in your desktop&apos;s text font instead of the fixed-pitch font that keeps columns in line</source>
        <translation>Zeigt die Konsole in der Textschrift Ihres Desktops statt in der Festbreitenschrift, die Spalten bündig hält</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>S&amp;tarten</translation>
    </message>
    <message>
        <source>Runs the game as a dedicated server, or stops the running one</source>
        <translation>Startet das Spiel als dedizierten Server oder stoppt den laufenden</translation>
    </message>
    <message>
        <source>Server console scroll area</source>
        <translation>Bildlaufbereich der Serverkonsole</translation>
    </message>
    <message>
        <source>Co&amp;mmand:</source>
        <translation>Be&amp;fehl:</translation>
    </message>
    <message>
        <source>Type a command for the running server and press Return</source>
        <translation>Befehl für den laufenden Server eingeben und Eingabetaste drücken</translation>
    </message>
    <message>
        <source>Server command</source>
        <translation>Serverbefehl</translation>
    </message>
    <message>
        <source>Sent to the running server with Return; Up and Down recall this session&apos;s commands</source>
        <translation>Wird mit der Eingabetaste an den laufenden Server gesendet; Pfeil hoch und runter holen die Befehle dieser Sitzung zurück</translation>
    </message>
    <message>
        <source>&amp;Quit command:</source>
        <translation>Befehl &amp;zum Beenden:</translation>
    </message>
    <message>
        <source>Typed into the server when it is stopped, e.g. quit</source>
        <translation>Wird dem Server beim Stoppen geschickt, z. B. quit</translation>
    </message>
    <message>
        <source>Quit command</source>
        <translation>Befehl zum Beenden</translation>
    </message>
    <message>
        <source>Typed into the server&apos;s terminal when Stop asks it to save and end</source>
        <translation>Wird in das Terminal des Servers getippt, wenn Stoppen ihn bittet, zu speichern und sich zu beenden</translation>
    </message>
    <message>
        <source>Stop &amp;timeout:</source>
        <translation>W&amp;artezeit beim Stoppen:</translation>
    </message>
    <message>
        <source> s</source>
        <translation> s</translation>
    </message>
    <message>
        <source>Kill at once</source>
        <translation>Sofort hart beenden</translation>
    </message>
    <message>
        <source>Stop timeout</source>
        <translation>Wartezeit beim Stoppen</translation>
    </message>
    <message>
        <source>Seconds Stop waits for the server to end before killing it; Kill at once waits for nothing</source>
        <translation>Sekunden, die Stoppen auf das Ende des Servers wartet, bevor es ihn hart beendet; Sofort hart beenden wartet gar nicht</translation>
    </message>
    <message>
        <source>&amp;Restart if it crashes</source>
        <translation>Nach Absturz neu sta&amp;rten</translation>
    </message>
    <message>
        <source>Restart if it crashes</source>
        <translation>Nach Absturz neu starten</translation>
    </message>
    <message>
        <source>Start the server again after a crash, waiting longer each time, and give up after 5 crashes within 10 minutes</source>
        <translation>Startet den Server nach einem Absturz erneut, wartet jedes Mal länger und gibt nach 5 Abstürzen innerhalb von 10 Minuten auf</translation>
    </message>
    <message>
        <source>&amp;Notify me when the server falls</source>
        <translation>Bei Serverausfall be&amp;nachrichtigen</translation>
    </message>
    <message>
        <source>Notify me when the server falls</source>
        <translation>Bei Serverausfall benachrichtigen</translation>
    </message>
    <message>
        <source>A desktop notification when the server crashes, is restarted, is given up or has to be killed</source>
        <translation>Eine Desktop-Benachrichtigung, wenn der Server abstürzt, neu gestartet oder aufgegeben wird oder hart beendet werden muss</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Gestoppt</translation>
    </message>
    <message>
        <source>Server state</source>
        <translation>Serverzustand</translation>
    </message>
    <message>
        <source>&amp;Keep running when the launcher closes</source>
        <translation>Weiter&amp;laufen, wenn der Launcher schließt</translation>
    </message>
    <message>
        <source>Keep running when the launcher closes</source>
        <translation>Weiterlaufen, wenn der Launcher schließt</translation>
    </message>
    <message>
        <source>Start runs the server in a host of its own, which a launcher started later attaches to</source>
        <translation>Starten führt den Server in einem eigenen Host aus, mit dem sich ein später gestarteter Launcher verbindet</translation>
    </message>
    <message>
        <source>Ser&amp;ver on:</source>
        <translation>Server a&amp;uf:</translation>
    </message>
    <message>
        <source>This computer</source>
        <translation>Diesem Rechner</translation>
    </message>
    <message>
        <source>Server on</source>
        <translation>Server auf</translation>
    </message>
    <message>
        <source>Empty for this computer; else where ssh reaches the server&apos;s machine: host, user@host or a Host of ~/.ssh/config</source>
        <translation>Leer für diesen Rechner; sonst, wo ssh den Rechner des Servers erreicht: Host, Benutzer@Host oder ein Host aus ~/.ssh/config</translation>
    </message>
    <message>
        <source>Remote comm&amp;and:</source>
        <translation>Pro&amp;gramm dort:</translation>
    </message>
    <message>
        <source>Remote command</source>
        <translation>Programm dort</translation>
    </message>
    <message>
        <source>The command that runs velmora-server on the server&apos;s machine; empty for velmora-server</source>
        <translation>Der Befehl, der velmora-server auf dem Rechner des Servers startet; leer für velmora-server</translation>
    </message>
</context>
<context>
    <name>NewRowsButton</name>
    <message>
        <source>Scrolls to the end of the console and follows new output again</source>
        <translation>Blättert ans Ende der Konsole und folgt wieder neuen Ausgaben</translation>
    </message>
    <message>
        <source>1 new line</source>
        <translation>1 neue Zeile</translation>
    </message>
    <message>
        <source>%1 new lines</source>
        <translation>%1 neue Zeilen</translation>
    </message>
</context>
<context>
    <name>MessageBar</name>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Copy path</source>
        <translation>Pfad kopieren</translation>
    </message>
    <message>
        <source>Put the path named in the message on the clipboard</source>
        <translation>Den in der Meldung genannten Pfad in die Zwischenablage legen</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Meldung</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Dismiss message</source>
        <translation>Meldung schließen</translation>
    </message>
</context>
<context>
    <name>Preferences</name>
    <message>
        <source>it is a named pipe, not a regular file</source>
        <translation>es ist eine benannte Pipe, keine reguläre Datei</translation>
    </message>
    <message>
        <source>it is a socket, not a regular file</source>
        <translation>es ist ein Socket, keine reguläre Datei</translation>
    </message>
    <message>
        <source>it is a device, not a regular file</source>
        <translation>es ist ein Gerät, keine reguläre Datei</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>es ist keine reguläre Datei</translation>
    </message>
    <message>
        <source>it is larger than 1 MiB, which no launcher writes</source>
        <translation>sie ist größer als 1 MiB, was kein Launcher schreibt</translation>
    </message>
    <message>
        <source>it is a link to nothing (%1)</source>
        <translation>es ist ein Verweis ins Leere (%1)</translation>
    </message>
    <message>
        <source>it is a link, and others can change the folder %1</source>
        <translation>es ist ein Verweis, und andere können den Ordner %1 ändern</translation>
    </message>
    <message>
        <source>it is a link to a file of another user</source>
        <translation>es ist ein Verweis auf eine Datei eines anderen Benutzers</translation>
    </message>
    <message>
        <source>the file could not be written</source>
        <translation>die Datei konnte nicht geschrieben werden</translation>
    </message>
</context>
<context>
    <name>ServerLog</name>
    <message>
        <source>Can&apos;t create the server log folder %1: %2</source>
        <translation>Der Ordner für Serverprotokolle %1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>Can&apos;t write the server log %1: %2</source>
        <translation>Das Serverprotokoll %1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>Can&apos;t write the server log in %1: %2</source>
        <translation>Das Serverprotokoll in %1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>The disk does not keep up with the server log %1; the rest of this run is not written to it.</source>
        <translation>Der Datenträger kommt mit dem Serverprotokoll %1 nicht mit; der Rest dieses Laufs wird nicht hineingeschrieben.</translation>
    </message>
    <message>
        <source>The server log %1 has reached %2 MiB; the rest of this run is not written to it.</source>
        <translation>Das Serverprotokoll %1 hat %2 MiB erreicht; der Rest dieses Laufs wird nicht hineingeschrieben.</translation>
    </message>
</context>
<context>
    <name>ServerPane</name>
    <message>
        <source>&amp;Stop</source>
        <translation>S&amp;toppen</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>S&amp;tarten</translation>
    </message>
    <message>
        <source>Closing the launcher stops the server.</source>
        <translation>Das Schließen des Launchers stoppt den Server.</translation>
    </message>
    <message>
        <source>Open Log</source>
        <translation>Protokoll öffnen</translation>
    </message>
    <message>
        <source>Open the log of the current or last server run</source>
        <translation>Das Protokoll des laufenden oder letzten Serverlaufs öffnen</translation>
    </message>
    <message>
        <source>Show Log Folder</source>
        <translation>Protokollordner anzeigen</translation>
    </message>
    <message>
        <source>Show the folder that holds the server logs</source>
        <translation>Den Ordner mit den Serverprotokollen anzeigen</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Wird beendet …</translation>
    </message>
    <message>
        <source>Closing the launcher leaves the server running.</source>
        <translation>Das Schließen des Launchers lässt den Server weiterlaufen.</translation>
    </message>
</context>
<context>
    <name>ServerSession</name>
    <message>
        <source>Command not sent: it fills all %1 characters the command field holds, so part of it may be missing</source>
        <translation>Befehl nicht gesendet: Er füllt alle %1 Zeichen, die das Befehlsfeld fasst, daher kann ein Teil davon fehlen</translation>
    </message>
    <message>
        <source>Command not sent: it is longer than the %1 bytes the server&apos;s terminal takes in one line</source>
        <translation>Befehl nicht gesendet: Er ist länger als die %1 Bytes, die das Terminal des Servers in einer Zeile annimmt</translation>
    </message>
    <message>
        <source>Command not sent: the server is not reading its input (%1 KiB still waiting)</source>
        <translation>Befehl nicht gesendet: Der Server liest seine Eingabe nicht (%1 KiB warten noch)</translation>
    </message>
    <message>
        <source>Command not sent: the server&apos;s terminal is closed</source>
        <translation>Befehl nicht gesendet: Das Terminal des Servers ist geschlossen</translation>
    </message>
    <message>
        <source>Server exited normally</source>
        <translation>Server wurde normal beendet</translation>
    </message>
    <message>
        <source>Server exited with status %1</source>
        <translation>Server wurde mit Status %1 beendet</translation>
    </message>
    <message>
        <source>Server was killed by signal %1 (%2)</source>
        <translation>Server wurde durch Signal %1 (%2) beendet</translation>
    </message>
    <message>
        <source>Restart cancelled</source>
        <translation>Neustart abgebrochen</translation>
    </message>
    <message>
        <source>Stopping: sent the quit command and SIGTERM, waiting up to %1 s</source>
        <translation>Wird beendet: Befehl zum Beenden und SIGTERM gesendet, Wartezeit bis zu %1 s</translation>
    </message>
    <message>
        <source>Stopping: sent SIGTERM, waiting up to %1 s</source>
        <translation>Wird beendet: SIGTERM gesendet, Wartezeit bis zu %1 s</translation>
    </message>
    <message>
        <source>Stopped at once: killed</source>
        <translation>Sofort gestoppt: hart beendet</translation>
    </message>
    <message>
        <source>Running since %1</source>
        <translation>Läuft seit %1</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Wird beendet …</translation>
    </message>
    <message>
        <source>Restarting in %1 s</source>
        <translation>Neustart in %1 s</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Gestoppt</translation>
    </message>
    <message>
        <source>Crashed %1 times within 10 minutes: not restarting</source>
        <translation>%1-mal innerhalb von 10 Minuten abgestürzt: kein Neustart</translation>
    </message>
    <message>
        <source>Server did not stop within %1 s: killed</source>
        <translation>Server hat sich nicht innerhalb von %1 s beendet: hart beendet</translation>
    </message>
    <message>
        <source>%1 was killed</source>
        <translation>%1 wurde hart beendet</translation>
    </message>
    <message>
        <source>%1 crashed</source>
        <translation>%1 ist abgestürzt</translation>
    </message>
    <message>
        <source>%1 is down</source>
        <translation>%1 ist ausgefallen</translation>
    </message>
    <message>
        <source>Restarting in %1 s (crash %2 of %3 within 10 minutes)</source>
        <translation>Neustart in %1 s (Absturz %2 von %3 innerhalb von 10 Minuten)</translation>
    </message>
    <message>
        <source>%1 was restarted</source>
        <translation>%1 wurde neu gestartet</translation>
    </message>
    <message>
        <source>It had crashed: %1</source>
        <translation>Er war abgestürzt: %1</translation>
    </message>
    <message>
        <source>Server stopped after %1 s</source>
        <translation>Server nach %1 s beendet</translation>
    </message>
    <message>
        <source>The server</source>
        <translation>Der Server</translation>
    </message>
    <message>
        <source>The server “%1”</source>
        <translation>Der Server „%1“</translation>
    </message>
</context>
<context>
    <name>Toolbar</name>
    <message>
        <source>Main</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Panes</source>
        <translation>Bereiche</translation>
    </message>
</context>
<context>
    <name>VScroller</name>
    <message>
        <source>Console scroll bar</source>
        <translation>Bildlaufleiste der Konsole</translation>
    </message>
</context>
<context>
    <name>HostClient</name>
    <message>
        <source>The host speaks version %1 of the protocol, this program %2</source>
        <translation>Der Host spricht Version %1 des Protokolls, dieses Programm %2</translation>
    </message>
    <message>
        <source>The host did not say hello first</source>
        <translation>Der Host hat sich nicht zuerst vorgestellt</translation>
    </message>
</context>
<context>
    <name>HostCommands</name>
    <message>
        <source>Last run: %1 (started %2, ended %3)</source>
        <translation>Letzter Lauf: %1 (gestartet %2, beendet %3)</translation>
    </message>
    <message>
        <source>Log: %1</source>
        <translation>Protokoll: %1</translation>
    </message>
    <message>
        <source>The server could not be started</source>
        <translation>Der Server konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>A server runs already (process %1).</source>
        <translation>Es läuft bereits ein Server (Prozess %1).</translation>
    </message>
    <message>
        <source>The game %1 cannot be run: %2</source>
        <translation>Das Spiel %1 kann nicht ausgeführt werden: %2</translation>
    </message>
    <message>
        <source>Server started (process %1), %2.</source>
        <translation>Server gestartet (Prozess %1), %2.</translation>
    </message>
    <message>
        <source>The server ended at once.</source>
        <translation>Der Server hat sich sofort beendet.</translation>
    </message>
    <message>
        <source>State: not running</source>
        <translation>Zustand: läuft nicht</translation>
    </message>
    <message>
        <source>State: running since %1</source>
        <translation>Zustand: läuft seit %1</translation>
    </message>
    <message>
        <source>Process: %1</source>
        <translation>Prozess: %1</translation>
    </message>
    <message>
        <source>State: stopped, the host is finishing</source>
        <translation>Zustand: gestoppt, der Host beendet sich</translation>
    </message>
    <message>
        <source>Restarts: %1</source>
        <translation>Neustarts: %1</translation>
    </message>
    <message>
        <source>Last run: %1</source>
        <translation>Letzter Lauf: %1</translation>
    </message>
    <message>
        <source>none before this one</source>
        <translation>keiner vor diesem</translation>
    </message>
    <message>
        <source>Host: %1 (process %2)</source>
        <translation>Host: %1 (Prozess %2)</translation>
    </message>
    <message>
        <source>No server is running.</source>
        <translation>Es läuft kein Server.</translation>
    </message>
    <message>
        <source>The server host went away before it answered.</source>
        <translation>Der Server-Host ist verschwunden, bevor er geantwortet hat.</translation>
    </message>
    <message>
        <source>Server stopped.</source>
        <translation>Server gestoppt.</translation>
    </message>
</context>
<context>
    <name>HostConnection</name>
    <message>
        <source>The other side stopped reading</source>
        <translation>Die Gegenseite liest nicht mehr</translation>
    </message>
    <message>
        <source>The connection ended in the middle of a message</source>
        <translation>Die Verbindung endete mitten in einer Nachricht</translation>
    </message>
    <message>
        <source>A message could not be read</source>
        <translation>Eine Nachricht konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>A message was longer than the %1 bytes allowed</source>
        <translation>Eine Nachricht war länger als die erlaubten %1 Bytes</translation>
    </message>
</context>
<context>
    <name>HostStarter</name>
    <message>
        <source>The server host was killed by signal %1</source>
        <translation>Der Server-Host wurde durch Signal %1 beendet</translation>
    </message>
    <message>
        <source>The server host ended with status %1</source>
        <translation>Der Server-Host endete mit Status %1</translation>
    </message>
    <message>
        <source>systemd-run did not finish: %1</source>
        <translation>systemd-run wurde nicht fertig: %1</translation>
    </message>
    <message>
        <source>The server host did not start under systemd; its reason is in the journal: journalctl --user -u %1</source>
        <translation>Der Server-Host ist unter systemd nicht gestartet; der Grund steht im Journal: journalctl --user -u %1</translation>
    </message>
    <message>
        <source>The server host did not get ready within %1 s</source>
        <translation>Der Server-Host wurde nicht innerhalb von %1 s bereit</translation>
    </message>
    <message>
        <source>systemd user unit %1</source>
        <translation>systemd-Benutzereinheit %1</translation>
    </message>
    <message>
        <source>a systemd unit</source>
        <translation>eine systemd-Einheit</translation>
    </message>
    <message>
        <source>detached, in a session of its own</source>
        <translation>losgelöst, in einer eigenen Sitzung</translation>
    </message>
    <message>
        <source>in the foreground</source>
        <translation>im Vordergrund</translation>
    </message>
</context>
<context>
    <name>RuntimeFolder</name>
    <message>
        <source>%1 cannot be made: %2</source>
        <translation>%1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>%1 is not a folder (a link, or a file): it is not used</source>
        <translation>%1 ist kein Ordner (eine Verknüpfung oder eine Datei): er wird nicht benutzt</translation>
    </message>
    <message>
        <source>%1 belongs to another user: it is not used</source>
        <translation>%1 gehört einem anderen Benutzer: er wird nicht benutzt</translation>
    </message>
    <message>
        <source>%1 cannot be made private: %2</source>
        <translation>%1 kann nicht privat gemacht werden: %2</translation>
    </message>
    <message>
        <source>The host&apos;s lock %1/%2 cannot be opened: %3</source>
        <translation>Die Sperre des Hosts %1/%2 kann nicht geöffnet werden: %3</translation>
    </message>
    <message>
        <source>The host&apos;s lock %1/%2 is not a file of yours: it is not used</source>
        <translation>Die Sperre des Hosts %1/%2 ist keine Datei von Ihnen: sie wird nicht benutzt</translation>
    </message>
    <message>
        <source>The host&apos;s lock cannot be taken: %1</source>
        <translation>Die Sperre des Hosts kann nicht gesetzt werden: %1</translation>
    </message>
    <message>
        <source>%1 is not a socket of yours: it is left alone, and no host can start until it is removed</source>
        <translation>%1 ist kein Socket von Ihnen: er bleibt unberührt, und kein Host kann starten, bis er entfernt ist</translation>
    </message>
    <message>
        <source>No socket for the host: %1</source>
        <translation>Kein Socket für den Host: %1</translation>
    </message>
    <message>
        <source>The host cannot listen on %1: %2</source>
        <translation>Der Host kann nicht auf %1 lauschen: %2</translation>
    </message>
    <message>
        <source>%1 is not a socket of yours: it is not used</source>
        <translation>%1 ist kein Socket von Ihnen: er wird nicht benutzt</translation>
    </message>
    <message>
        <source>The host at %1 does not answer: %2</source>
        <translation>Der Host unter %1 antwortet nicht: %2</translation>
    </message>
    <message>
        <source>The host at %1 runs as another user: it is not used</source>
        <translation>Der Host unter %1 läuft als anderer Benutzer: er wird nicht benutzt</translation>
    </message>
</context>
<context>
    <name>ServerHost</name>
    <message>
        <source>A server host runs already (process %1)</source>
        <translation>Es läuft bereits ein Server-Host (Prozess %1)</translation>
    </message>
    <message>
        <source>A server host runs already</source>
        <translation>Es läuft bereits ein Server-Host</translation>
    </message>
    <message>
        <source>The server could not be started</source>
        <translation>Der Server konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Gestoppt</translation>
    </message>
    <message>
        <source>A client must say hello first</source>
        <translation>Ein Client muss sich zuerst vorstellen</translation>
    </message>
    <message>
        <source>This host speaks version %1 of the protocol, the client %2</source>
        <translation>Dieser Host spricht Version %1 des Protokolls, der Client %2</translation>
    </message>
    <message>
        <source>No server is running</source>
        <translation>Es läuft kein Server</translation>
    </message>
    <message>
        <source>No settings came to start the server with</source>
        <translation>Es kamen keine Einstellungen, mit denen der Server starten könnte</translation>
    </message>
</context>
<context>
    <name>RemoteHost</name>
    <message>
        <source>ssh cannot be started: %1</source>
        <translation>ssh kann nicht gestartet werden: %1</translation>
    </message>
    <message>
        <source>%1 cannot be started: %2</source>
        <translation>%1 kann nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>Connecting to %1…</source>
        <translation>Verbinde mit %1 …</translation>
    </message>
    <message>
        <source>Connected to %1 again.</source>
        <translation>Wieder mit %1 verbunden.</translation>
    </message>
    <message>
        <source>On %1</source>
        <translation>Auf %1</translation>
    </message>
    <message>
        <source>No answer from %1 within %2 s</source>
        <translation>Keine Antwort von %1 innerhalb von %2 s</translation>
    </message>
    <message>
        <source>The connection to %1 was lost; the server there keeps running.</source>
        <translation>Die Verbindung zu %1 ist abgerissen; der Server dort läuft weiter.</translation>
    </message>
    <message>
        <source>The server on %1 is no longer running.</source>
        <translation>Der Server auf %1 läuft nicht mehr.</translation>
    </message>
    <message>
        <source>There is no host %1</source>
        <translation>Es gibt keinen Host %1</translation>
    </message>
    <message>
        <source>%1 refused the connection: no SSH server listens there</source>
        <translation>%1 hat die Verbindung abgelehnt: dort wartet kein SSH-Server</translation>
    </message>
    <message>
        <source>The host key of %1 is unknown or has changed: check it, and accept it with ssh %1 in a terminal</source>
        <translation>Der Host-Schlüssel von %1 ist unbekannt oder hat sich geändert: prüfen Sie ihn und nehmen Sie ihn mit ssh %1 in einem Terminal an</translation>
    </message>
    <message>
        <source>%1 refused the login: it accepts none of your keys (a password cannot be asked for here)</source>
        <translation>%1 hat die Anmeldung abgelehnt: keiner Ihrer Schlüssel wird dort angenommen (nach einem Passwort kann hier nicht gefragt werden)</translation>
    </message>
    <message>
        <source>%1 cannot be reached</source>
        <translation>%1 ist nicht erreichbar</translation>
    </message>
    <message>
        <source>%1 is not installed on %2 (Remote command)</source>
        <translation>%1 ist auf %2 nicht installiert (Programm dort)</translation>
    </message>
    <message>
        <source>The connection to %1 ended (ssh&apos;s exit status %2)</source>
        <translation>Die Verbindung zu %1 wurde beendet (Exit-Status von ssh: %2)</translation>
    </message>
    <message>
        <source>%1; ssh said: %2</source>
        <translation>%1; ssh meldete: %2</translation>
    </message>
    <message>
        <source>Connection lost; trying again in %1 s</source>
        <translation>Verbindung abgerissen; neuer Versuch in %1 s</translation>
    </message>
    <message>
        <source>Not connected to %1: the command was not sent.</source>
        <translation>Nicht mit %1 verbunden: der Befehl wurde nicht gesendet.</translation>
    </message>
    <message>
        <source>Connecting to %1 given up; a server there keeps running.</source>
        <translation>Verbinden mit %1 abgebrochen; ein Server dort läuft weiter.</translation>
    </message>
</context>
<context>
    <name>velmora-server</name>
    <message>
        <source>Usage: velmora-server COMMAND [ARGUMENTS]
Runs Velmora&apos;s dedicated server without a window, with the Server settings of velmora-launcher.

Commands:
  start [--detached]   start the server in a host that outlives this command (a systemd user
                       unit where the user&apos;s manager runs; --detached: always a session of its
                       own), and return once it runs
  run                  run the host in the foreground, for service units and containers:
                       output on standard output, SIGTERM and SIGINT stop the server
  status               show whether a server runs; exit status 0 when one runs, 3 when none does
  send TEXT...         type one command line into the server
  stop                 stop the server
  attach [--protocol]  show the console&apos;s last 201 rows and follow it; the lines you type go
                       to the server; end of input or Ctrl+C detaches and leaves it running.
                       --protocol: speak the host&apos;s protocol on standard input and output;
                       --start as well: start a host first where none runs, which starts its
                       server with the settings the client sends (a launcher on another machine)

Options:
  -h, --help           show this help and exit
  -v, --version        show the version and exit

To start the server at boot: systemctl --user enable --now velmora-server, and loginctl enable-linger.
</source>
        <translation>Aufruf: velmora-server BEFEHL [ARGUMENTE]
Führt den dedizierten Server von Velmora ohne Fenster aus, mit den Servereinstellungen von velmora-launcher.

Befehle:
  start [--detached]   startet den Server in einem Host, der diesen Befehl überdauert (eine
                       systemd-Benutzereinheit, wo der Dienstverwalter des Benutzers läuft;
                       --detached: immer in einer eigenen Sitzung), und kehrt zurück, sobald er läuft
  run                  führt den Host im Vordergrund aus, für Dienst-Units und Container:
                       Ausgabe auf die Standardausgabe, SIGTERM und SIGINT stoppen den Server
  status               zeigt, ob ein Server läuft; Rückgabewert 0, wenn einer läuft, 3, wenn keiner läuft
  send TEXT...         tippt eine Befehlszeile in den Server
  stop                 stoppt den Server
  attach [--protocol]  zeigt die letzten 201 Zeilen der Konsole und folgt ihr; eingegebene Zeilen
                       gehen an den Server; Ende der Eingabe oder Strg+C trennt und lässt ihn laufen.
                       --protocol: spricht das Protokoll des Hosts auf Standardein- und -ausgabe;
                       dazu --start: startet zuerst einen Host, wo keiner läuft, der seinen Server
                       mit den Einstellungen startet, die der Client sendet (ein Launcher auf einem
                       anderen Rechner)

Optionen:
  -h, --help           zeigt diese Hilfe und beendet sich
  -v, --version        zeigt die Version und beendet sich

Zum Start beim Hochfahren: systemctl --user enable --now velmora-server und loginctl enable-linger.
</translation>
    </message>
    <message>
        <source>See velmora-server --help.</source>
        <translation>Siehe velmora-server --help.</translation>
    </message>
    <message>
        <source>No command given.</source>
        <translation>Kein Befehl angegeben.</translation>
    </message>
    <message>
        <source>send needs the command line to type.</source>
        <translation>send braucht die Befehlszeile, die getippt werden soll.</translation>
    </message>
    <message>
        <source>%1 does not take %2.</source>
        <translation>%1 nimmt %2 nicht an.</translation>
    </message>
    <message>
        <source>Unknown command %1.</source>
        <translation>Unbekannter Befehl %1.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Usage: velmora-launcher [Qt options]
Opens the Velmora launcher: choose the screen and graphics settings and play, or run a dedicated server on the Server pane.

  -h, --help     show this help and exit
  -v, --version  show the version and exit

The dedicated server runs without a window too: see velmora-server --help.
</source>
        <translation>Aufruf: velmora-launcher [Qt-Optionen]
Öffnet den Velmora-Launcher: Bildschirm- und Grafikeinstellungen wählen und spielen, oder im Bereich Server einen dedizierten Server betreiben.

  -h, --help     zeigt diese Hilfe und beendet sich
  -v, --version  zeigt die Version und beendet sich

Der dedizierte Server läuft auch ohne Fenster: siehe velmora-server --help.
</translation>
    </message>
</context>
</TS>
