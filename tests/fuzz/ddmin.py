"""Delta debugging shared by the fuzz drivers."""


def ddmin(items, failing):
    """Shrinks items to a smaller list for which failing() still holds."""
    chunk = max(1, len(items) // 2)
    while chunk >= 1:
        i, shrunk = 0, False
        while i < len(items):
            trial = items[:i] + items[i + chunk:]
            if trial and failing(trial):
                items, shrunk = trial, True
            else:
                i += chunk
        if not shrunk:
            chunk //= 2
    return items
