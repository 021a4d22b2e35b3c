"""Smoke run of the native modules; the full benchmark replaces it."""

import velmora.exceptions as exc


def main() -> None:
    caught = 0
    for cls in (exc.NotFound, exc.BadRequest, exc.Forbidden):
        try:
            raise cls()
        except exc.HTTPException as e:
            print(f"raised and caught {type(e).__name__}: status {e.status}, message {e}")
            caught += 1
    print(f"{caught} exceptions raised and caught")


if __name__ == "__main__":
    main()
