"""Coreference values and constituency trees."""

import gc

import pytest

from _velmora import ConstituencyTree, CorefAttachment, CorefChain, CorefMention


@pytest.mark.parametrize(
    "start,end,read_start,read_end",
    [(3, 5, 3, 5), ((4, 1), (4, 1), (4, 1), (4, 1)), ([4, 1], [4, 1], (4, 1), (4, 1)), (True, 2, 1, 2)],
)
def test_mention_positions(start, end, read_start, read_end):
    mention = CorefMention(0, start, end)
    assert (mention.start_word, mention.end_word) == (read_start, read_end)
    assert type(mention.start_word) is type(read_start)


@pytest.mark.parametrize("position", [(1, 2, 3), [1], "ab c"])
def test_zero_anaphora_positions_need_two_integers(position):
    with pytest.raises(ValueError, match="a zero-anaphora word position must contain two integers"):
        CorefMention(0, position, 1)


def test_mention_checks():
    with pytest.raises(TypeError):
        CorefMention(0, 1.5, 2)
    with pytest.raises(ValueError, match="a coreference mention sentence index cannot be negative"):
        CorefMention(-1, 0, 1)
    with pytest.raises(TypeError):
        CorefMention(0.0, 0, 1)
    assert repr(CorefMention(2, (1, 1), (1, 1))) == "<CorefMention sentence=2>"


def test_an_error_raised_while_converting_a_position_reaches_the_caller():
    class Refusing(Exception):
        pass

    class Index:
        def __index__(self):
            raise Refusing("mine")

    with pytest.raises(Refusing, match="mine"):
        CorefMention(0, (1, Index()), 2)


def test_chain_values():
    mentions = (CorefMention(0, 0, 1), CorefMention(1, 2, 3))
    chain = CorefChain(index=4, mentions=mentions, representative_text="the cat", representative_index=1)
    assert (chain.index, chain.representative_text, chain.representative_index) == (4, "the cat", 1)
    assert repr(chain) == "<CorefChain index=4 representative=the cat>"
    assert CorefChain(0, [], "x").representative_index is None
    first, second = chain.mentions, chain.mentions
    assert first is not second and [m.sentence for m in first] == [0, 1]


def test_a_mention_keeps_its_chain_alive():
    mention = CorefChain(0, [CorefMention(5, 0, 1)], "x").mentions[0]
    gc.collect()
    assert mention.sentence == 5


@pytest.mark.parametrize(
    "index,mention_count,representative,message",
    [
        (-1, 0, 0, "a coreference chain index cannot be negative"),
        (0, 0, 0, "the representative coreference mention index is invalid"),
        (0, 1, -1, "the representative coreference mention index is invalid"),
    ],
)
def test_chain_checks(index, mention_count, representative, message):
    mentions = [CorefMention(0, 0, 1) for _ in range(mention_count)]
    with pytest.raises(ValueError, match=message):
        CorefChain(index, mentions, "x", representative)


def test_attachments():
    chain = CorefChain(7, [], "she")
    attachment = CorefAttachment(chain, False, True, False)
    assert attachment.to_json() == {"index": 7, "representative_text": "she", "is_end": True}
    assert list(CorefAttachment(chain, True, True, True).to_json()) == [
        "index", "representative_text", "is_start", "is_end", "is_representative"]
    assert repr(attachment) == "<CorefAttachment chain=7>"
    assert attachment.chain.index == 7 and attachment.chain is not chain
    for flags in [(1, 0, 0), (True, None, False)]:
        with pytest.raises(TypeError):
            CorefAttachment(chain, *flags)
    with pytest.raises(TypeError):
        CorefAttachment(None, True, False, False)


def leaf(label):
    return ConstituencyTree(label)


def test_a_label_alone_is_a_leaf():
    tree = leaf("dog")
    assert tree.is_leaf() and not tree.is_preterminal()
    assert tree.leaf_labels() == ["dog"] and len(tree) == 1 and str(tree) == "dog"
    assert len(tree.children) == 0


def test_noun_phrase_tree():
    dt, nn = ConstituencyTree("DT", [leaf("the")]), ConstituencyTree("NN", (leaf("dog"),))
    tree = ConstituencyTree("NP", [dt, nn])
    assert str(tree) == repr(tree) == "(NP (DT the) (NN dog))"
    assert len(tree) == 2 and tree.leaf_labels() == ["the", "dog"]
    assert dt.is_preterminal() and not tree.is_preterminal()
    assert tree == tree and tree != ConstituencyTree("NP", [dt, nn])
    assert tree.children[0] == dt and tree.children[-1] == nn
    assert tree.label == "NP"
    with pytest.raises(TypeError):
        tree == "NP"
    with pytest.raises(TypeError):
        ConstituencyTree("NP", ["DT"])
