"""Start-up, the configuration file and the first run, seen from outside."""

import http.client
import os
import subprocess

import pytest

from . import harness
from .harness import CONFIG_NAME, PRESSED

BANNERS = ["=== ORBEK CADEAUX / SONS ILLIMITES ===", "=== KORAVEL ==="]
SERVING = ["", "=== Serveur demarre sur le port 5000 ===", "En attente de webhooks...", ""]
LOAD_FAILED = "Erreur lors du chargement de la configuration"
DEFAULT_FILE = os.path.join(os.path.dirname(__file__), "..", "support", "default-config.json")
linux_only = pytest.mark.skipif(harness.under_wine(), reason="Windows always has a keyboard and sound")


def content(folder):
    with open(os.path.join(folder, CONFIG_NAME), "rb") as f:
        return f.read()


def test_first_run_asks_for_the_token_writes_the_file_and_serves(run, folder):
    program = run(stdin_text="a b&c\n")
    program.wait_until_serving()
    assert program.lines == BANNERS + [
        "Fichier de configuration non trouve. Creation...", "", "=== CONFIGURATION INITIALE ===",
        "Entrez le token de votre compte Koravel : ", "Fichier de configuration cree: " + CONFIG_NAME, "",
        "N'oubliez pas de creer un dossier 'sounds' et d'y placer vos fichiers MP3!",
        "Configuration chargee: 7 cadeaux configures"] + SERVING
    with open(DEFAULT_FILE, "rb") as f:
        # Windows' line ends on Windows, so that Notepad shows the lines.
        assert content(folder) == f.read().replace(b"\n", b"\r\n" if harness.under_wine() else b"\n")
    assert os.listdir(folder) == [CONFIG_NAME]
    # Closed while the relay's keep-alive connection is open, and started again at once: the port is had back.
    relay = http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=30)
    relay.request("POST", "/webhook?giftName=Rose")
    assert relay.getresponse().read().decode() == PRESSED
    program.stop()
    again = run(stdin_text="")  # reads the file and asks nothing
    again.wait_until_serving()
    relay.close()
    assert again.lines == BANNERS + ["Configuration chargee: 7 cadeaux configures"] + SERVING
    assert harness.post_gift("Rose") == PRESSED


@pytest.mark.parametrize("file, cause", [
    (b'{\n"token": "t",\n"gifts": {"Rose": {"action": "key", "target": "g",}}}', "line 3, column"),
    (b'{"token": "t", "gifts": {"Rose": {"action": "key", "target": "g", "volume": "80"}}}',
     'Le champ "volume" du cadeau "Rose" doit etre un nombre'),
    ('{"token": "t"}'.encode("utf-16"), "UTF-16"),
    ("50 MB", "n'est pas du JSON valide"),
    (None, "Impossible de lire le fichier de configuration " + CONFIG_NAME + " : "),
], ids=["bad JSON", "wrong member", "UTF-16", "50 MB", "unreadable"])
def test_a_file_that_cannot_be_used_says_why_exits_1_and_is_left_as_it_was(run, folder, file, cause):
    path = os.path.join(folder, CONFIG_NAME)
    if file == "50 MB":
        file = b'{"token": "' + b"x" * (50 * 1024 * 1024)
    if file is None:
        os.mkdir(path)  # a file that cannot be read
    else:
        with open(path, "wb") as f:
            f.write(file)
    program = run(stdin_text="token\n")
    # Reading 50 MB takes over a minute in a ThreadSanitizer build.
    assert program.exit_code(timeout=240) == 1
    assert program.lines[:2] == BANNERS and program.lines[-1] == LOAD_FAILED and len(program.lines) == 4
    assert cause in program.lines[-2], program.lines[-2][:300]
    assert os.path.isdir(path) if file is None else content(folder) == file


def test_a_second_copy_is_told_the_port_is_taken_and_the_first_keeps_every_gift(run, folder, tmp_path_factory):
    harness.write_config(folder, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g"}}})
    first = run()
    first.wait_until_serving()
    other = str(tmp_path_factory.mktemp("second"))
    harness.write_config(other, {"token": "t"})
    second = run(cwd=other)
    assert second.exit_code() == 1
    assert second.lines[-1].startswith("Impossible d'ouvrir le port 5000 : ")
    assert "En attente de webhooks..." not in second.lines
    for _ in range(10):
        assert harness.post_gift("Rose") == PRESSED


def test_first_run_in_a_read_only_folder_leaves_no_file(run, folder):
    # Mounted read-only for the program alone: the tests run as root, whom permissions do not stop.
    read_only = ["unshare", "--mount", "sh", "-c",
                 'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" && cd "$0" && exec "$@"', folder]
    # Wine's server opens the files for its programs: it must start inside the mount.
    if harness.under_wine():
        subprocess.run(["wineserver", "-k"], capture_output=True)
        subprocess.run(["wineserver", "-w"], capture_output=True)
    program = run(stdin_text="token\n", wrapper=read_only)
    assert program.exit_code() == 1
    assert any("Impossible de creer le fichier de configuration" in line for line in program.lines), program.lines
    assert program.lines[-1] == LOAD_FAILED and os.listdir(folder) == []


@linux_only
@pytest.mark.parametrize("display, why", [
    ("", "aucun affichage X (la variable DISPLAY est vide) ; il faut une session X11 ou XWayland"),
    (":4242", "impossible de joindre l'affichage X :4242"),
])
def test_without_a_display_or_a_sound_server_gifts_are_served_and_told_why(run, folder, mp3s, display, why):
    harness.write_config(folder, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g", "sound": "r.mp3"}}})
    with open(os.path.join(folder, "r.mp3"), "wb") as f:
        f.write(mp3s["low"])
    program = run(env={"DISPLAY": display, "PULSE_SERVER": "unix:" + os.path.join(folder, "no-server")})
    program.wait_until_serving()
    no_sound = [line for line in program.lines if line.startswith("Les sons ne pourront pas etre joues : ")]
    assert "Les touches ne pourront pas etre pressees : " + why in program.lines and len(no_sound) == 1
    why_no_sound = no_sound[0].split(" : ", 1)[1]
    assert why_no_sound.startswith("aucun serveur de son PulseAudio ou PipeWire joignable ("), why_no_sound
    program.mark()
    assert harness.post_gift("Rose") == '{"error": "Keys cannot be pressed on this computer"}'
    program.wait_for_line("Touche non pressee: g (" + why + ")")
    assert program.since_mark() == ["Cadeau recu: Rose", "Erreur ouverture audio: " + why_no_sound,
                                    "Touche non pressee: g (" + why + ")"]


@linux_only
def test_a_display_that_goes_away_and_comes_back(run, folder):
    display, name = harness.start_x_display()
    harness.write_config(folder, {"token": "t", "gifts": {"G": {"action": "key", "target": "g"}}})
    program = run(env={"DISPLAY": name})
    try:
        program.wait_until_serving()
        assert harness.post_gift("G") == PRESSED
        display.terminate()
        display.wait()
        assert harness.post_gift("G") == '{"error": "Keys cannot be pressed on this computer"}'
        program.wait_for_line("Touche non pressee: g (la connexion a l'affichage X " + name + " est perdue)")
        display, _ = harness.start_x_display(name)
        assert harness.post_gift("G") == PRESSED
    finally:
        display.kill()
        display.wait()
