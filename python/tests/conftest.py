import _thread
import threading
import time


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds the package from source (minutes); run on its own")


def interrupt_main_after(seconds):
    """Sends Ctrl-C to the main thread after `seconds`."""

    def interrupt():
        time.sleep(seconds)
        _thread.interrupt_main()

    threading.Thread(target=interrupt).start()
